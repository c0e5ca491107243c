#!/usr/bin/python3
"""The tool's config.json for the signed run, on standard output.

Usage: config-with-key.py CONFIG_JSON IP_PORT DOC_KEY

CONFIG_JSON with mainCfg.ipPort set to IP_PORT and mainCfg.docKeys to the one key DOC_KEY.
"""
import json
import sys

config = json.load(open(sys.argv[1], encoding="utf-8"))
config["mainCfg"]["ipPort"] = sys.argv[2]
config["mainCfg"]["docKeys"] = [sys.argv[3]]
print(json.dumps(config, ensure_ascii=False, indent=2))
