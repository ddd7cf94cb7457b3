"""The studio's page in a real, headless Chromium: pick a picture, render it,
see the spectrogram and the player, download the sound (and the grid), and
compare them with what the command-line tools write for the same options,
byte for byte. Also: a bad picture's message, the keyboard alone, and a
phone-width screen. Exits 77 (skipped) when Chromium cannot be driven here.

Usage: studio_browser_test.py GRIDWAVE_STUDIO IMG2GRID GRIDWAVE IMG2SOUND"""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_support import Studio, chromium, chromium_missing, png  # noqa: E402

STUDIO = IMG2GRID = GRIDWAVE = IMG2SOUND = None
SKIPPED = 77


def wavy_picture(width, height):
    """A picture nobody drew for this project: rings and a diagonal ramp."""
    def pixel(x, y):
        ring = 0.5 + 0.5 * math.cos(math.hypot(x - width * 0.3, y - height * 0.5) / 3.0)
        return int(255 * min(1.0, ring * (x + y) / (width + height) * 1.6))
    return png(width, height, pixel)


def ppm_picture(width, height):
    """A binary PPM, a format the browser cannot show but the studio reads."""
    pixels = bytes(v for y in range(height) for x in range(width)
                   for v in ((x * 255) // width, (y * 255) // height, 128))
    return f"P6\n{width} {height}\n255\n".encode() + pixels


class StudioPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="studio-browser-")
        cls.downloads = os.path.join(cls.work.name, "downloads")
        os.mkdir(cls.downloads)
        cls.pictures = {}
        for name, data in [("rings.png", wavy_picture(240, 150)), ("gradient.ppm", ppm_picture(90, 40)),
                           ("broken.png", b"\x89PNG\r\n\x1a\nthis is not really a picture")]:
            path = os.path.join(cls.work.name, name)
            with open(path, "wb") as f:
                f.write(data)
            cls.pictures[name] = path
        cls.studio = Studio(STUDIO)
        cls.driver = chromium(1280, 800, cls.downloads)
        cls.driver.set_script_timeout(30)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        left = cls.studio.left_files()
        status = cls.studio.stop()
        messages = cls.studio.messages()
        cls.studio.cleanup()
        cls.work.cleanup()
        assert left == [], f"the studio left files behind: {left}"
        assert status == 0, f"the studio ended with status {status}: {messages[-3000:]}"

    # Helpers -------------------------------------------------------------

    def element(self, element_id):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, element_id)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def open_page(self):
        self.driver.get(self.studio.url)
        self.wait_for(lambda: self.js("return document.readyState") == "complete", "the page to load")

    def wait_for(self, condition, what, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.05)
        self.fail(f"waited {seconds} s for {what}")

    def pick(self, name):
        self.element("picture").send_keys(self.pictures[name])

    def set_options(self, mode, values):
        from selenium.webdriver.support.ui import Select
        Select(self.element("mode")).select_by_value(mode)
        defaults = {"duration": "10", "low": "312.5", "high": "10000", "rows": "", "db-range": "60"}
        for field, value in {**defaults, **values}.items():
            if field in ("noise", "invert", "scale"):
                continue
            self.js("arguments[0].value = arguments[1]", self.element(field), value)
        if mode == "img2sound":
            Select(self.element("scale")).select_by_value(values.get("scale", "log"))
        for box in ("noise", "invert"):
            checkbox = self.element(box)
            if checkbox.is_enabled() and checkbox.is_selected() != bool(values.get(box)):
                checkbox.click()

    def render_and_wait(self, click=True):
        """Renders (by clicking, unless the caller pressed a key) and waits for
        the result; returns the status line."""
        self.js("document.getElementById('status').textContent = ''")
        if click:
            self.element("render").click()
        self.wait_for(lambda: self.element("render").is_enabled() and
                      (self.element("status").text or self.element("error").is_displayed()), "the render")
        return self.element("status").text

    def assert_result_shown(self, seconds):
        self.assertFalse(self.element("error").is_displayed(), self.element("error").text)
        spectrogram = self.element("spectrogram")
        self.assertTrue(spectrogram.is_displayed())
        self.wait_for(lambda: self.js("return arguments[0].complete && arguments[0].naturalWidth", spectrogram),
                      "the spectrogram picture")
        self.assertGreater(self.js("return arguments[0].naturalWidth", spectrogram), 600)
        self.assertGreater(spectrogram.size["width"], 300)
        sound = self.element("sound")
        self.assertTrue(sound.get_attribute("src").startswith("blob:"))
        self.wait_for(lambda: self.js("return arguments[0].readyState", sound) >= 1, "the sound's length")
        self.assertAlmostEqual(self.js("return arguments[0].duration", sound), seconds, delta=0.01)

    def download(self, link_id):
        for name in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, name))
        link = self.element(link_id)
        self.assertTrue(link.is_displayed())
        expected = link.get_attribute("download")
        link.click()
        path = os.path.join(self.downloads, expected)
        self.wait_for(lambda: os.path.exists(path) and not any(n.endswith(".crdownload")
                                                             for n in os.listdir(self.downloads)),
                      f"the download of {expected}")
        with open(path, "rb") as f:
            return f.read()

    # Tests ---------------------------------------------------------------

    def test_gridwave_mode_gives_the_bytes_of_img2grid_and_gridwave(self):
        picture = self.pictures["rings.png"]
        for values, img2grid_options in [({}, []),
                                         ({"rows": "60", "db-range": "45", "invert": True},
                                          ["--height", "60", "--db-range", "45", "--invert"])]:
            with self.subTest(options=img2grid_options):
                self.open_page()
                self.pick("rings.png")
                self.set_options("gridwave", values)
                status = self.render_and_wait()
                print(f"\ngridwave mode, {img2grid_options or 'defaults'}: {status}", file=sys.stderr)
                self.assert_result_shown(802000 / 44100)
                self.assertFalse(self.element("download-grid").get_attribute("hidden"))
                sound = self.download("download-sound")
                grid = self.download("download-grid")
                subprocess.run([IMG2GRID, picture, os.path.join(self.work.name, "cli.grid"), *img2grid_options],
                               check=True)
                with open(os.path.join(self.work.name, "cli.grid"), "rb") as f:
                    self.assertEqual(grid, f.read(), "the studio's grid differs from img2grid's")
                wav = os.path.join(self.work.name, "cli.wav")
                subprocess.run([GRIDWAVE, os.path.join(self.work.name, "cli.grid"), wav, "rings.png"], check=True,
                               stdout=subprocess.DEVNULL)
                with open(wav, "rb") as f:
                    self.assertEqual(sound, f.read(), "the studio's sound differs from img2grid + gridwave")

    def test_img2sound_mode_gives_the_bytes_of_img2sound(self):
        picture = self.pictures["rings.png"]
        for values, seconds, cli in [
                ({}, 10.0, []),
                ({"duration": "3", "low": "200", "high": "8000", "scale": "linear", "rows": "50", "noise": True,
                  "db-range": "40", "invert": True}, 3.0,
                 ["--duration", "3", "--low", "200", "--high", "8000", "--scale", "linear", "--rows", "50",
                  "--noise", "--db-range", "40", "--invert"])]:
            with self.subTest(options=cli):
                self.open_page()
                self.pick("rings.png")
                self.set_options("img2sound", values)
                status = self.render_and_wait()
                print(f"\nimg2sound mode, {cli or 'defaults'}: {status}", file=sys.stderr)
                self.assert_result_shown(seconds)
                self.assertFalse(self.element("download-grid").is_displayed())
                sound = self.download("download-sound")
                path = os.path.join(self.work.name, "cli-img2sound.wav")
                subprocess.run([IMG2SOUND, picture, path, *cli], check=True)
                with open(path, "rb") as f:
                    self.assertEqual(sound, f.read(), "the studio's sound differs from img2sound's")

    def test_the_example_picture_renders_without_picking_one(self):
        self.open_page()
        status = self.render_and_wait()
        print(f"\nexample picture, default options: {status}", file=sys.stderr)
        self.assert_result_shown(10.0)

    def test_a_picture_the_browser_cannot_show_still_renders(self):
        self.open_page()
        self.pick("gradient.ppm")
        self.wait_for(lambda: self.element("preview-missing").is_displayed(), "the note about the preview")
        self.set_options("gridwave", {})
        self.render_and_wait()
        self.assert_result_shown(802000 / 44100)

    def test_a_bad_picture_gives_a_clear_message(self):
        self.open_page()
        self.pick("broken.png")
        self.render_and_wait()
        error = self.element("error")
        self.assertTrue(error.is_displayed())
        self.assertIn("broken.png", error.text)
        self.assertIn("not", error.text)
        # A bad option is named too, and a good picture then clears the message.
        self.pick("rings.png")
        self.set_options("img2sound", {"duration": "500"})
        self.render_and_wait()
        self.assertIn("duration", self.element("error").text)
        self.set_options("img2sound", {"duration": "1"})
        self.render_and_wait()
        self.assertFalse(self.element("error").is_displayed())
        self.assert_result_shown(1.0)

    def test_the_keyboard_alone_reaches_every_control_and_renders(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        self.open_page()
        order = []
        for _ in range(30):
            ActionChains(self.driver).send_keys(Keys.TAB).perform()
            focused = self.js("return document.activeElement.id")
            order.append(focused)
            if focused == "render":
                break
        wanted = ["picture", "mode", "duration", "low", "high", "scale", "rows", "db-range", "noise", "invert", "render"]
        self.assertEqual([i for i in order if i in wanted], wanted, order)
        # Each focused control shows a visible focus ring.
        self.assertNotEqual(self.js("return getComputedStyle(document.activeElement).outlineStyle"), "none")
        # Space ticks a box; Enter on the button renders.
        self.element("invert").send_keys(Keys.SPACE)
        self.assertTrue(self.element("invert").is_selected())
        self.element("invert").send_keys(Keys.SPACE)
        self.element("render").send_keys(Keys.ENTER)
        self.render_and_wait(click=False)
        self.assert_result_shown(10.0)
        # Enter in a number field submits too.
        self.element("duration").clear()
        self.element("duration").send_keys("2", Keys.ENTER)
        self.render_and_wait(click=False)
        self.assert_result_shown(2.0)
        # The download links can be reached and are real links once there is a sound.
        self.assertTrue(self.element("download-sound").get_attribute("href").startswith("blob:"))

    def test_phone_width(self):
        driver = chromium(375, 740)
        try:
            driver.get(self.studio.url)
            from selenium.webdriver.common.by import By
            self.assertLessEqual(driver.execute_script("return document.documentElement.scrollWidth"), 375)
            driver.find_element(By.ID, "render").click()
            deadline = time.monotonic() + 30
            while not driver.find_element(By.ID, "spectrogram").is_displayed() and time.monotonic() < deadline:
                time.sleep(0.05)
            for element_id in ["picture", "mode", "render", "spectrogram", "sound", "download-sound"]:
                box = driver.find_element(By.ID, element_id).rect
                self.assertLessEqual(box["x"] + box["width"], 375, element_id)
            self.assertTrue(driver.find_element(By.ID, "spectrogram").is_displayed())
            self.assertLessEqual(driver.execute_script("return document.documentElement.scrollWidth"), 375)
        finally:
            driver.quit()


if __name__ == "__main__":
    why = chromium_missing()
    if why:
        print(f"SKIPPED: {why}")
        sys.exit(SKIPPED)
    STUDIO, IMG2GRID, GRIDWAVE, IMG2SOUND = (os.path.abspath(p) for p in sys.argv[1:5])
    unittest.main(argv=sys.argv[:1], verbosity=2)
