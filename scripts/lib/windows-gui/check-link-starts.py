#!/usr/bin/python3
"""The browser stand-in's starts after two "alert:" links.

Usage: check-link-starts.py BEFORE PAGE <STARTS

STARTS, on standard input, holds the stand-in's records, one JSON object a line. There is
exactly one more than BEFORE (the link to another host started nothing), and the last start
had one argument, PAGE. Fails with an AssertionError naming what differs.
"""
import json
import sys

records = [json.loads(line) for line in sys.stdin]
assert len(records) == int(sys.argv[1]) + 1, records  # the other host started nothing
last = records[-1]
assert last["count"] == 1 and last["args"] == [sys.argv[2]], last
