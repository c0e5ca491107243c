#!/usr/bin/python3
"""The JSON report of a check without a window before the repair, as Windows 11.

Usage: check-ie-mode-missing.py REPORT_JSON

The IE row is red (-1) with facts about Edge's IE mode, none of them in order; the system
is Windows build 22631, 64-bit, IE retired, Edge 120.0.2210.91. Fails with an
AssertionError naming what differs.
"""
import json
import sys

report = json.load(open(sys.argv[1], encoding="utf-8"))
ie = next(row for row in report["rows"] if row["item"] == "ie")
ie_mode = [fact for fact in ie["facts"] if "IE 模式" in fact["note"]]
assert ie["code"] == -1 and ie_mode and not any(fact["ok"] for fact in ie_mode), ie
system = report["system"]
assert system["build"] == 22631 and system["bits"] == 64 and system["ieRetired"] is True, system
assert system["edge"] == "120.0.2210.91", system
