#!/usr/bin/python3
"""The support pages in Debian's Chromium, driven through chromium-driver.

Usage: browser_test.py PATH/TO/quelda-support

Logs in (after a wrong token is refused), looks a code up as it is read over the phone,
sees the five rows, sees a hostile report rendered as text and the overview's SVG bars.
Prints "SKIPPED: ..." and exits 0 where Chromium cannot start.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(0)


def sample_report():
    def fact(name, entry, where, expected, found, ok):
        return {"name": name, "entry": entry, "where": where, "expected": expected,
                "found": found, "ok": ok, "note": ""}

    def row(item, code, text, facts):
        return {"item": item, "code": code, "text": text, "facts": facts, "install": None}

    return {"version": 1, "time": "2024-05-06T09:41:07+08:00", "toolVersion": "1.0",
            "region": "hebei", "server": "10.1.2.3:8080", "document": "/envcheck/config.json",
            "exitCode": 1,
            "rows": [row("network", 1, "连接服务器成功",
                         [fact("response", None, "http://10.1.2.3:8080/envcheck/config.json",
                               "HTTP 200", "HTTP 200", True)]),
                     row("dotnet", 1, ".net framework 4.0已安装", []),
                     row("ie", 1, "IE浏览器配置检测正常", []),
                     row("tool", -4, "投标工具安装版本不正确",
                         [fact("version", None, "C:\\Quelda\\QueldaBid.exe.config", "3.2.1.0",
                               "3.1.0.0", False)]),
                     row("ca", -4, "CA驱动版本不正确",
                         [fact("version", 0, "C:\\CA\\QdCaDriver.dll", "2.1.0.8", "2.1.0.7",
                               False)])],
            "system": {"build": 19045, "edition": "Professional", "bits": 64,
                       "ieRetired": True, "edge": "120.0.2210.91"}}


def upload(base, report):
    request = urllib.request.Request(base + "/reports", data=json.dumps(report).encode(),
                                     headers={"Content-Type": "application/json; charset=utf-8"})
    with urllib.request.urlopen(request, timeout=10) as answer:
        assert answer.status == 201, answer.status
        return json.load(answer)["code"]


def start_browser(profile):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:
        skip("python3-selenium is not installed (%s)" % e)
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            skip(path + " is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--window-size=1200,1000", "--user-data-dir=" + profile):
        options.add_argument(flag)
    try:
        return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    except Exception as e:  # the driver's errors have no common base worth naming
        skip("Chromium cannot start here: " + str(e).splitlines()[0])


def main():
    program = sys.argv[1]
    work = tempfile.mkdtemp(prefix="support-browser-")
    server = subprocess.Popen([program, "--port", "0", "--db", os.path.join(work, "db.sqlite"),
                               "--token-file", os.path.join(work, "token")],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    browser = None
    try:
        line = server.stdout.readline()
        match = re.match(r"listening on (http://\S+)", line)
        assert match, "no listening line: %r" % line
        base = match.group(1)
        with open(os.path.join(work, "token")) as f:
            token = f.read().strip()

        code = upload(base, sample_report())
        hostile = sample_report()
        hostile["rows"][3]["facts"][0]["found"] = "<script>alert(1)</script>"
        hostile["rows"][4]["facts"][0]["where"] = "<img src=x onerror=alert(2)>"
        hostile["toolVersion"] = "\"><b>bold</b>"
        hostile_code = upload(base, hostile)

        browser = start_browser(os.path.join(work, "profile"))
        from selenium.common.exceptions import NoAlertPresentException
        from selenium.webdriver.common.by import By

        def log_in(with_token):
            browser.get(base + "/support/")
            assert browser.current_url.endswith("/support/login"), browser.current_url
            field = browser.find_element(By.NAME, "token")
            field.send_keys(with_token)
            field.submit()

        log_in(token + "x")
        assert "访问令牌不正确" in browser.page_source
        browser.get(base + "/support/reports")
        assert browser.current_url.endswith("/support/login"), "a wrong token let the page open"
        print("wrong token refused")

        log_in(token)
        assert browser.current_url.endswith("/support/"), browser.current_url
        bars = browser.find_elements(By.CSS_SELECTOR, "svg.bars rect.bar")
        assert len(bars) == 10, "bars: %d" % len(bars)  # five rows, two periods
        widths = [float(bar.get_attribute("width")) for bar in bars]
        assert max(widths) > 0 and min(widths) == 0, widths
        assert browser.execute_script("return document.cookie") == "", "the cookie is readable"
        print("overview: %d SVG bars" % len(bars))

        typed = (code[:4] + "-" + code[4:]).lower().replace("0", "o").replace("1", "l")
        lookup = browser.find_element(By.NAME, "code")
        lookup.send_keys(typed)
        lookup.submit()
        assert browser.current_url.endswith("/support/r/" + code), browser.current_url
        rows = browser.find_elements(By.CSS_SELECTOR, "section.row")
        assert [r.get_attribute("id") for r in rows] == [
            "row-network", "row-dotnet", "row-ie", "row-tool", "row-ca"]
        assert "投标工具安装版本不正确" in rows[3].text
        print("report %s: five rows" % code)

        browser.get(base + "/support/r/" + hostile_code)
        try:
            browser.switch_to.alert
            raise AssertionError("a script in the report ran")
        except NoAlertPresentException:
            pass
        text = browser.find_element(By.TAG_NAME, "main").text
        for shown in ("<script>alert(1)</script>", "<img src=x onerror=alert(2)>",
                      "\"><b>bold</b>"):
            assert shown in text, "not shown as text: " + shown
        assert not browser.find_elements(By.CSS_SELECTOR, "main script, main img, main b")
        print("hostile report %s: rendered as text" % hostile_code)
        shot = os.environ.get("SUPPORT_BROWSER_SCREENSHOT")
        if shot:
            browser.save_screenshot(shot)
        print("PASSED")
    finally:
        if browser:
            browser.quit()
        server.terminate()
        server.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
