#!/usr/bin/python3
"""Screenshots of the studio after rendering its example picture with the
default options: docs/studio.png at 1280 x 800, and optionally a phone-width
one. Usage: scripts/studio_screenshot.py build/gridwave-studio OUT.png [PHONE.png]"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from studio_support import Studio, chromium  # noqa: E402


def screenshot(studio, width, height, path):
    from selenium.webdriver.common.by import By
    driver = chromium(width, height)
    try:
        driver.get(studio.url)
        driver.find_element(By.ID, "render").click()
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not (
                driver.find_element(By.ID, "render").is_enabled() and
                driver.execute_script("const s = document.getElementById('spectrogram');"
                                      "return !s.hidden && s.complete && s.naturalWidth > 0")):
            time.sleep(0.05)
        driver.execute_script("document.activeElement.blur()")
        time.sleep(0.3)
        driver.save_screenshot(path)
    finally:
        driver.quit()


def main():
    studio = Studio(os.path.abspath(sys.argv[1]))
    try:
        screenshot(studio, 1280, 800, sys.argv[2])
        if len(sys.argv) > 3:
            screenshot(studio, 375, 812, sys.argv[3])
    finally:
        studio.stop()
        studio.cleanup()


if __name__ == "__main__":
    main()
