#!/usr/bin/python3
"""Screenshots of the support pages for the demo, in Debian's headless Chromium.

Usage: support-screenshots.py BASE_URL TOKEN_FILE CODE OUTPUT_DIR

Logs in through the form with the token, then saves OUTPUT_DIR/support-lookup.png (the
report CODE, looked up as staff type it) and OUTPUT_DIR/support-overview.png.
Exits 3 with a message where Chromium or selenium cannot start.
"""
import os
import shutil
import sys
import tempfile


def main():
    base, token_file, code, out = sys.argv[1:5]
    with open(token_file) as f:
        token = f.read().strip()
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
    except ImportError as e:
        print("support-screenshots: python3-selenium is missing (%s)" % e, file=sys.stderr)
        sys.exit(3)
    profile = tempfile.mkdtemp(prefix="support-demo-profile-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--window-size=1200,1100", "--user-data-dir=" + profile):
        options.add_argument(flag)
    browser = None
    try:
        try:
            browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"),
                                       options=options)
        except Exception as e:  # the driver's errors have no common base worth naming
            print("support-screenshots: Chromium cannot start: " + str(e).splitlines()[0],
                  file=sys.stderr)
            sys.exit(3)
        browser.get(base + "/support/login")
        field = browser.find_element(By.NAME, "token")
        field.send_keys(token)
        field.submit()
        if not browser.current_url.endswith("/support/"):
            print("support-screenshots: the login failed (%s)" % browser.current_url,
                  file=sys.stderr)
            sys.exit(1)
        # The code as it is read over the phone, typed into the lookup box.
        lookup = browser.find_element(By.NAME, "code")
        lookup.send_keys(code[:4] + "-" + code[4:])
        lookup.submit()
        if not browser.current_url.endswith("/support/r/" + code):
            print("support-screenshots: the lookup of %s failed (%s)"
                  % (code, browser.current_url), file=sys.stderr)
            sys.exit(1)
        browser.save_screenshot(os.path.join(out, "support-lookup.png"))
        browser.get(base + "/support/")
        browser.save_screenshot(os.path.join(out, "support-overview.png"))
    finally:
        if browser:
            browser.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
