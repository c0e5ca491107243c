#!/usr/bin/python3
"""The server document with every installer's `signer` named, on standard output.

Usage: name-signer.py DOCUMENT PUBLISHER

Every object with a `url` in the regions (not in `support`) gets "signer": PUBLISHER.
"""
import json
import sys

document = json.load(open(sys.argv[1], encoding="utf-8"))


def name_signer(node):
    if isinstance(node, dict):
        if "url" in node:
            node["signer"] = sys.argv[2]
        for value in node.values():
            name_signer(value)
    elif isinstance(node, list):
        for value in node:
            name_signer(value)


name_signer({k: v for k, v in document.items() if k != "support"})
print(json.dumps(document, ensure_ascii=False, indent=2))
