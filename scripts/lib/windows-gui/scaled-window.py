#!/usr/bin/python3
"""Whether the window at one screen scaling is whole and its texts are where they belong.

Usage: scaled-window.py SHOT DPI X Y WIDTH HEIGHT SCREEN_WIDTH SCREEN_HEIGHT

SHOT is a screenshot of the whole screen; X, Y, WIDTH, HEIGHT the window's frame on it. The
window must lie inside the screen and be as large as 960x720 points at DPI allows on that
screen. Its texts are read back with tesseract: the title bar's title and check button, and
the status line at the bottom, each inside the window (nothing cut off). Prints what it
read; exits 0 when all holds and 1 otherwise.
"""
import subprocess
import sys

shot = sys.argv[1]
dpi, x, y, width, height, screen_w, screen_h = (int(a) for a in sys.argv[2:9])
faults = []

if x < 0 or y < 0 or x + width > screen_w or y + height > screen_h:
    faults.append("the window %dx%d+%d+%d leaves the %dx%d screen"
                  % (width, height, x, y, screen_w, screen_h))
# 960x720 points, fitted to the screen when larger (a few pixels for Wine's rounding).
want_w = min(960 * dpi // 96, screen_w)
want_h = min(720 * dpi // 96, screen_h)
if abs(width - want_w) > 8 or abs(height - want_h) > 8:
    faults.append("the window is %dx%d, not about %dx%d at %d DPI"
                  % (width, height, want_w, want_h, dpi))

# Lines of text with their boxes, from tesseract's TSV (level 4 rows are lines).
tsv = subprocess.run(["tesseract", shot, "-", "-l", "chi_sim", "tsv"], capture_output=True,
                     text=True, check=False).stdout
lines = {}
for row in tsv.splitlines()[1:]:
    cells = row.split("\t")
    if len(cells) < 12 or cells[0] != "5" or not cells[11].strip():
        continue
    key = tuple(cells[1:5])
    left, top, w, h = (int(c) for c in cells[6:10])
    text, box = lines.get(key, ("", None))
    box = (left, top, left + w, top + h) if box is None else (
        min(box[0], left), min(box[1], top), max(box[2], left + w), max(box[3], top + h))
    lines[key] = (text + cells[11].strip(), box)

for want in ("运行环境检测工具", "一键检测", "技术支持"):
    found = [(t, b) for t, b in lines.values() if want in t]
    if not found:
        faults.append("'%s' was not read" % want)
        continue
    text, box = found[0]
    print("%d DPI: '%s' at %s" % (dpi, text, box))
    if box[0] < x or box[1] < y or box[2] > x + width or box[3] > y + height:
        faults.append("'%s' at %s is outside the window" % (want, box))

for fault in faults:
    print("%d DPI: %s" % (dpi, fault))
sys.exit(1 if faults else 0)
