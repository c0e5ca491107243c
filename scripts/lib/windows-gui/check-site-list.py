#!/usr/bin/python3
"""The IE mode site list that the repair wrote.

Usage: check-site-list.py SITE_LIST_XML PORTAL

A <site-list> of version 1 or later whose site PORTAL opens in IE11 in the default
compatibility mode. Fails (an AssertionError, or a KeyError without PORTAL) otherwise.
"""
import sys
import xml.etree.ElementTree as ET

root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "site-list" and int(root.get("version")) >= 1, root.attrib
sites = {s.get("url"): s for s in root.iter("site")}
portal = sites[sys.argv[2]]
assert portal.findtext("compat-mode") == "Default" and portal.findtext("open-in") == "IE11"
