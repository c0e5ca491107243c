#!/usr/bin/python3
"""Checks Markdown pages: their fenced blocks, and their links to the checkout's own files.

Usage: check-docs.py PAGE.md...

Every fenced block (```) must be closed by a line that is only the fence: a closing fence
with text after it does not close the block, and the rest of the page would show as code.

Every link [text](target) whose target is not a URL must name a file or folder that exists,
relative to the page; a #fragment after a Markdown page must be one of that page's headings
(as the usual Markdown renderers make anchors of them: lower case, punctuation dropped,
spaces as hyphens). Code spans and fenced blocks are not read. Prints one line per fault
and exits 1 when there is one.
"""
import os
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def prose(text):
    """The page without its fenced blocks and code spans."""
    text = re.sub(r"(?ms)^```.*?^```", "", text)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"(?ms)^```.*?^```", "", f.read())
    found = set()
    for heading in re.findall(r"(?m)^#{1,6} +(.+?) *$", text):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        found.add(slug)
    return found


def fence_faults(page, text):
    """Lines where a fenced block is left open, as messages."""
    faults, opened = [], None
    for number, line in enumerate(text.split("\n"), 1):
        if not line.lstrip().startswith("```"):
            continue
        if opened is None:
            opened = number
        elif line.strip() == "```":
            opened = None
        else:
            faults.append("%s:%d: a fence with text after it, inside the block opened at line %d"
                          % (page, number, opened))
    if opened is not None:
        faults.append("%s:%d: a fenced block that is never closed" % (page, opened))
    return faults


def main():
    broken = 0
    for page in sys.argv[1:]:
        with open(page, encoding="utf-8") as f:
            raw = f.read()
        for fault in fence_faults(page, raw):
            print(fault)
            broken += 1
        text = prose(raw)
        for target in LINK.findall(text):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, https:, mailto:
                continue
            path, _, fragment = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(where):
                print("%s: the link to %s names no file" % (page, target))
                broken += 1
            elif fragment and where.endswith(".md") and fragment not in anchors(where):
                print("%s: the link to %s names no heading of %s" % (page, target, where))
                broken += 1
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
