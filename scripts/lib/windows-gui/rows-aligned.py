#!/usr/bin/python3
"""Whether each faulty row's red icon and red result text share a line.

Usage: rows-aligned.py WIDTH <MASK

MASK, on standard input, is the check panel's red mask as 8-bit gray bytes, WIDTH pixels a
line. Prints the vertical centres of the icons and of the nearest texts ("icon/text ...");
exits 0 when there are four icons, each within 4 pixels of its text, and 1 otherwise.
"""
import sys

width, data = int(sys.argv[1]), sys.stdin.buffer.read()


def bands(x0, x1):  # runs of rows holding red pixels between columns x0 and x1
    rows = [y for y in range(len(data) // width) if any(data[y * width + x0:y * width + x1])]
    runs = []
    for y in rows:
        if runs and y - runs[-1][1] <= 3:
            runs[-1][1] = y
        else:
            runs.append([y, y])
    return [(a + b) / 2 for a, b in runs]


icons, texts = bands(15, 60), bands(300, 760)
pairs = [(i, min(texts, key=lambda t: abs(t - i))) for i in icons] if texts else []
print(" ".join("%g/%g" % p for p in pairs))
sys.exit(0 if len(icons) == 4 and all(abs(i - t) <= 4 for i, t in pairs) else 1)
