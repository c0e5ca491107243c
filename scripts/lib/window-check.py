#!/usr/bin/python3
"""The running window of quelda-envcheck as a screen reader sees it, through AT-SPI.

  window-check.py screens --scale S --screen WxH --title TITLE --shot PNG
      The window's title (the frame's name and the title label's text), every shown button
      inside the window, the window inside the screen (both in device-independent points,
      the screen's pixels over S), the window's pixels on the X screen S times its points
      (xdotool), and every row either inside the window or below a shown scroll bar.
  window-check.py access --machine-faults
      Each row's accessible name before and after a check started with Tab and Return, the
      focus order that Tab walks (the shown controls in the order they are seen), the focus
      frame drawn on the focused button, and a repair started with Space renaming its row.

Prints what it found; exits 1 with the first fault found, 2 when the window is not there.
"""
import argparse
import subprocess
import sys
import time

import pyatspi

APP = "quelda-envcheck"
ROW_ITEMS = ["网络连接检测", ".net framework 4.0检测", "IE浏览器配置检测", "投标工具版本检测",
             "CA版本检测"]


def fail(text):
    print(f"window-check: FAILED: {text}", file=sys.stderr)
    sys.exit(1)


def application(timeout=20.0):
    """The tool's application object on the accessibility bus, once its frame is there."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == APP and app.childCount > 0:
                return app
        time.sleep(0.2)
    print(f"window-check: no accessible application named {APP}", file=sys.stderr)
    sys.exit(2)


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def tree(app):
    """Every object of the tool's windows, read afresh (no cached names or states)."""
    app.clearCache()
    return list(walk(app))


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def extents(acc):
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (box.x, box.y, box.width, box.height)


def inside(inner, outer, slack=1):
    x, y, w, h = inner
    ox, oy, ow, oh = outer
    return (x >= ox - slack and y >= oy - slack and x + w <= ox + ow + slack
            and y + h <= oy + oh + slack)


def frame_of(app):
    for child in app:
        if child.getRole() == pyatspi.ROLE_FRAME and showing(child):
            return child
    fail("the application has no shown frame")


def row_names(objects):
    """The accessible name of each row's item label, by item."""
    names = {}
    for acc in objects:
        if acc.getRole() != pyatspi.ROLE_LABEL:
            continue
        for item in ROW_ITEMS:
            if acc.name.startswith(item + "："):
                names.setdefault(item, acc.name)
    return names


def x_window_geometry(title):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                         capture_output=True, text=True).stdout.split()
    if not out:
        fail(f"no X window named {title}")
    geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", out[0]],
                         capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def check_screens(args):
    width, height = (int(v) for v in args.screen.split("x"))
    scale = args.scale
    app = application()
    frame = frame_of(app)
    objects = tree(app)
    if frame.name != args.title:
        fail(f"window title {frame.name!r}, not {args.title!r}")
    labels = [a for a in objects if a.getRole() == pyatspi.ROLE_LABEL and a.name == args.title]
    if not labels:
        fail(f"no label reads {args.title!r}")
    window = extents(frame)
    screen = (0, 0, round(width / scale), round(height / scale))
    print(f"window-check: title {frame.name!r}; window {window[2]}x{window[3]} at "
          f"{window[0]},{window[1]} in a screen of {screen[2]}x{screen[3]} points")
    if not inside(window, screen):
        fail(f"the window {window} is not inside the screen {screen}")
    # The X window's pixels: the points times the scale (one pixel of rounding each way).
    xx, xy, xw, xh = x_window_geometry(args.title)
    if abs(xw - window[2] * scale) > scale + 1 or abs(xh - window[3] * scale) > scale + 1:
        fail(f"the X window is {xw}x{xh} pixels, not {window[2]}x{window[3]} points at {scale}")
    if xx < 0 or xy < 0 or xx + xw > width or xy + xh > height:
        fail(f"the X window {xw}x{xh}+{xx}+{xy} is not inside the {width}x{height} screen")
    buttons = [a for a in objects if a.getRole() == pyatspi.ROLE_PUSH_BUTTON and showing(a)]
    if len(buttons) < 3:
        fail(f"only {len(buttons)} shown buttons")
    for button in buttons:
        box = extents(button)
        print(f"window-check:   button {button.name!r} {box[2]}x{box[3]} at {box[0]},{box[1]}")
        if box[2] <= 0 or box[3] <= 0 or not inside(box, window):
            fail(f"button {button.name!r} at {box} is not inside the window {window}")
    scrollbars = [a for a in objects if a.getRole() == pyatspi.ROLE_SCROLL_BAR and showing(a)
                  and extents(a)[3] > extents(a)[2]]
    for acc in objects:
        if acc.getRole() != pyatspi.ROLE_LABEL or not showing(acc):
            continue
        if not any(acc.name.startswith(item) for item in ROW_ITEMS):
            continue
        box = extents(acc)
        if inside(box, window):
            continue
        below = box[1] >= window[1] and box[0] >= window[0]
        if not (below and scrollbars):
            fail(f"row {acc.name!r} at {box} is cut off: outside the window {window} "
                 "and no scroll bar shown")
        print(f"window-check:   row {acc.name!r} below the window's edge, reached by scrolling")
    print(f"window-check: {len(buttons)} buttons inside the window; "
          f"{'a scroll bar' if scrollbars else 'no scroll bar'} shown")
    if args.shot:
        subprocess.run(["import", "-window", "root", args.shot], check=True)


def focused(app):
    for acc in tree(app):
        if acc.getState().contains(pyatspi.STATE_FOCUSED) and acc.getRole() in (
                pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_COMBO_BOX):
            return acc
    return None


def key(*names):
    subprocess.run(["xdotool", "key", "--delay", "60", *names], check=True)
    time.sleep(0.3)


def focus_walk(app, count):
    """The names that Tab gives the focus to, count presses."""
    names = []
    for _ in range(count):
        key("Tab")
        acc = focused(app)
        names.append(acc.name if acc else None)
    return names


def seen_order(app):
    """The shown buttons and the combo box in the order they are read: by line (centres
    within 8 points of each other), then from left to right."""
    controls = [a for a in tree(app) if a.getRole() in (pyatspi.ROLE_PUSH_BUTTON,
                                                          pyatspi.ROLE_COMBO_BOX)
                and showing(a) and a.getState().contains(pyatspi.STATE_ENABLED)
                and a.getState().contains(pyatspi.STATE_FOCUSABLE)]
    placed = []
    for acc in controls:
        x, y, w, h = extents(acc)
        placed.append((y + h / 2, x, acc.name))
    placed.sort()
    lines = []
    for centre, x, name in placed:
        if lines and centre - lines[-1][0] <= 8:
            lines[-1][1].append((x, name))
        else:
            lines.append((centre, [(x, name)]))
    return [name for _, line in lines for _, name in sorted(line)]


def wait_for(what, condition, timeout=30.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.25)
    fail(f"{what} did not happen within {timeout:.0f} s")


def check_walk(app, when):
    expected = seen_order(app)
    walked = focus_walk(app, len(expected) + 1)
    print(f"window-check: Tab {when}: {' -> '.join(str(n) for n in walked)}")
    # Wherever it starts, Tab walks the controls as seen and wraps round: one round of
    # presses, put to start at the first control, is the order read, and one more press
    # comes back to where the round began.
    if walked[len(expected)] != walked[0]:
        fail(f"Tab {when} did not come round in {len(expected)} presses: {walked}")
    rounds = walked[:len(expected)]
    if expected[0] not in rounds:
        fail(f"Tab {when} never reached {expected[0]!r}: {walked}")
    start = rounds.index(expected[0])
    cycle = rounds[start:] + rounds[:start]
    if cycle != expected:
        fail(f"Tab {when} went {cycle}, the window reads {expected}")
    if any(name is None or name == "" for name in walked):
        fail(f"Tab {when} focused an object without a name: {walked}")


def focus_to(app, name, limit=20):
    for _ in range(limit):
        acc = focused(app)
        if acc is not None and acc.name == name:
            return acc
        key("Tab")
    fail(f"Tab never reached {name!r}")


def shot_box(box):
    """The screenshot's pixels inside a box of points (the scale is 1 in this stage)."""
    x, y, w, h = box
    out = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "rgb:-"],
                         capture_output=True, check=True)
    return out.stdout


def check_access(args):
    app = application()
    frame = frame_of(app)
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", frame.name,
                    "windowfocus", "--sync"], check=True, capture_output=True)
    before = row_names(tree(app))
    print(f"window-check: rows before the check: {before}")
    for item in ROW_ITEMS:
        if before.get(item) != f"{item}：未检测":
            fail(f"row {item} before the check reads {before.get(item)!r}")

    check_walk(app, "before the check")

    # The check, started from the keyboard: the check button's focus frame, then Return.
    check = focus_to(app, "一键检测")
    framed = shot_box(extents(check))
    key("shift+Tab")
    unframed = shot_box(extents(check))
    if framed == unframed:
        fail("the focused check button looks as it does without the focus")
    key("Tab")
    key("Return")

    def checked():
        names = row_names(tree(app))
        if all(not names.get(i, "").endswith(("未检测", "等待检测", "检测中"))
               for i in ROW_ITEMS):
            return names
        return None

    after = wait_for("the check's results", checked)
    print(f"window-check: rows after the check: {after}")
    if after["网络连接检测"] != "网络连接检测：正常":
        fail(f"network row after the check: {after['网络连接检测']!r}")
    if args.machine_faults:
        for item in ROW_ITEMS[1:]:
            if not after[item].startswith(f"{item}：异常，"):
                fail(f"row {item} on the faulty machine reads {after[item]!r}")
        if after["IE浏览器配置检测"] != "IE浏览器配置检测：异常，可修复":
            fail(f"IE row reads {after['IE浏览器配置检测']!r}")
    buttons = {a.name: a for a in tree(app) if a.getRole() == pyatspi.ROLE_PUSH_BUTTON
               and showing(a)}
    for item in ROW_ITEMS[1:]:
        state = after[item].split("：", 1)[1]
        named = [b for n, b in buttons.items() if n.endswith("：" + item)]
        if state.startswith("异常，") and not named:
            fail(f"row {item} is {state} but has no button named for it: {sorted(buttons)}")
        for button in named:
            if button.description != after[item]:
                fail(f"button {button.name!r} says {button.description!r}, "
                     f"its row {after[item]!r}")
    check_walk(app, "after the check")

    # The IE repair, pressed with Space: its row says so and its button goes.
    if args.machine_faults:
        focus_to(app, "修复：IE浏览器配置检测")
        key("space")
        repaired = wait_for("the IE row's repair", lambda: row_names(tree(app)).get(
            "IE浏览器配置检测") == "IE浏览器配置检测：正常")
        print(f"window-check: after Space on the IE button: {repaired}")
    print("window-check: accessible names, states and the focus order as the window shows them")


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    screens = sub.add_parser("screens")
    screens.add_argument("--scale", type=float, required=True)
    screens.add_argument("--screen", required=True)
    screens.add_argument("--title", required=True)
    screens.add_argument("--shot")
    access = sub.add_parser("access")
    access.add_argument("--machine-faults", action="store_true")
    args = parser.parse_args()
    if args.command == "screens":
        check_screens(args)
    else:
        check_access(args)


if __name__ == "__main__":
    main()
