#!/usr/bin/python3
"""The JSON report of the check without a window, after the repair.

Usage: check-report.py REPORT_JSON SIGNATURE LOG...

Every row in order, exit code 0, the document's signature as SIGNATURE says (signed or
unsigned), and the IE row's record naming whose settings it checked (the LOG files, the
program's daily logs, say so when there was no desktop shell window). Fails with an
AssertionError naming what differs.
"""
import json
import sys

report = json.load(open(sys.argv[1], encoding="utf-8"))
codes = {row["item"]: row["code"] for row in report["rows"]}
assert report["exitCode"] == 0 and len(codes) == 5 and all(c >= 0 for c in codes.values()), codes
assert report["system"]["signature"] == sys.argv[2], report["system"]
network = next(row for row in report["rows"] if row["item"] == "network")
signature = next(fact for fact in network["facts"] if fact["name"] == "signature")
assert signature["ok"] and ("已签名" if sys.argv[2] == "signed" else "未签名") in signature["note"], signature
# Wine has one user: the settings of the desktop's user, who runs the program; without a
# shell window the program's own, and the log says so.
ie = next(row for row in report["rows"] if row["item"] == "ie")
account = ie["facts"][0]
assert account["name"] == "account" and account["ok"], account
assert account["where"] == "HKEY_CURRENT_USER" and account["found"], account
log = "".join(open(name, encoding="utf-8", errors="replace").read() for name in sys.argv[3:])
if account["note"].startswith("未找到桌面的登录用户"):
    assert "no desktop shell window, settings of the program's own user" in log
else:
    assert account["note"] == "检测的是当前登录用户 %s 的设置" % account["found"], account
print("test-windows-gui: the IE row's record:", account["note"])
