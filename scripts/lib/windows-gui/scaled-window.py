#!/usr/bin/python3
"""Whether the window at one screen scaling is whole and its texts are where they belong.

Usage: scaled-window.py SHOT DPI X Y WIDTH HEIGHT SCREEN_WIDTH SCREEN_HEIGHT

SHOT is a screenshot of the whole screen; X, Y, WIDTH, HEIGHT the window's frame on it. The
window must lie inside the screen and be as large as 960x720 points at DPI allows on that
screen. Read back with tesseract: the title in the title bar, the check button (the green
one) inside the window, and the status line at the window's bottom. Prints what it read;
exits 0 when all holds and 1 otherwise.
"""
import re
import subprocess
import sys

shot = sys.argv[1]
dpi, x, y, width, height, screen_w, screen_h = (int(a) for a in sys.argv[2:9])
scale = dpi / 96
faults = []

if x < 0 or y < 0 or x + width > screen_w or y + height > screen_h:
    faults.append("the window %dx%d+%d+%d leaves the %dx%d screen"
                  % (width, height, x, y, screen_w, screen_h))
# 960x720 points, fitted to the screen when larger (a few pixels for rounding).
want_w, want_h = min(round(960 * scale), screen_w), min(round(720 * scale), screen_h)
if abs(width - want_w) > 8 or abs(height - want_h) > 8:
    faults.append("the window is %dx%d, not about %dx%d" % (width, height, want_w, want_h))


def read(w, h, left, top):
    """The text in a part of the shot. White text on the bars' orange and the button's green:
    each pixel's smallest channel, inverted, is dark text on white, which tesseract reads."""
    picture = subprocess.run(
        ["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, left, top), "+repage", "-separate",
         "-evaluate-sequence", "min", "-negate", "-resize", "400%", "png:-"],
        capture_output=True, check=True).stdout
    text = subprocess.run(["tesseract", "-", "-", "-l", "chi_sim", "--psm", "6"],
                          input=picture, capture_output=True, check=False).stdout
    return re.sub(r"\s+", "", text.decode("utf-8", "replace"))


def green_box():
    """The check button's frame on the shot: where its green is, within the window."""
    info = subprocess.run(
        ["convert", shot, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage", "-fx",
         "g>0.6 && r<0.45 && b<0.65", "-trim", "-format", "%w %h %X %Y", "info:"],
        capture_output=True, text=True, check=False).stdout.split()
    if len(info) != 4:
        return None
    w, h, left, top = (int(v) for v in info)
    return w, h, x + left, y + top


bar = round(90 * scale)
title = read(width, round(40 * scale), x, y)
print("%d DPI: title bar reads '%s'" % (dpi, title))
if "运行环境检测工具" not in title:
    faults.append("no title in the title bar")

button = green_box()
if not button or button[0] < 40 * scale or button[1] < 20 * scale:
    faults.append("no check button (green) in the window: %s" % (button,))
else:
    w, h, left, top = button
    text = read(w, h, left, top)
    print("%d DPI: the button at %dx%d+%d+%d reads '%s'" % (dpi, w, h, left, top, text))
    if "检测" not in text:
        faults.append("the green button does not read 一键检测")
    if top + h > y + bar:
        faults.append("the check button is below the title bar")

status = read(width, round(20 * scale), x, y + height - round(20 * scale))
print("%d DPI: status line reads '%s'" % (dpi, status))
if "技术支持" not in status:
    faults.append("no status line at the window's bottom")

for fault in faults:
    print("%d DPI: %s" % (dpi, fault))
sys.exit(1 if faults else 0)
