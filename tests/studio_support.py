"""Helpers for the studio's tests: start gridwave-studio on a free port in a
folder of its own, talk HTTP to it, and make small PNG pictures."""

import http.client
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import zlib


class Studio:
    """A gridwave-studio process on a free port of 127.0.0.1, run in an
    empty folder that is also its TMPDIR, so that any file it left behind
    would show."""

    def __init__(self, binary, *args):
        self.folder = tempfile.TemporaryDirectory(prefix="studio-test-")
        env = dict(os.environ, TMPDIR=self.folder.name)
        # Its messages go to a file elsewhere: a pipe nobody reads could fill up and stall it.
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [binary, "--port", "0", *args], cwd=self.folder.name, env=env,
            stdout=subprocess.PIPE, stderr=self.errors)
        line = self._first_line(10)
        match = re.search(rb"http://([0-9.]+):(\d+)/", line)
        if not match:
            self.process.kill()
            raise RuntimeError(f"gridwave-studio printed no address: {line!r} {self.messages()}")
        self.host = match.group(1).decode()
        self.port = int(match.group(2))
        self.url = f"http://{self.host}:{self.port}/"

    def _first_line(self, seconds):
        deadline = time.monotonic() + seconds
        line = b""
        while not line.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready:
                byte = os.read(self.process.stdout.fileno(), 1)
                if not byte:
                    break
                line += byte
        return line

    def messages(self):
        """What it printed on standard error so far."""
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")

    def left_files(self):
        return os.listdir(self.folder.name)

    def alive(self):
        return self.process.poll() is None

    def peak_memory_kb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))

    def stop(self):
        """Stops it as Ctrl+C would; returns its exit status."""
        if self.alive():
            self.process.send_signal(signal.SIGINT)
        try:
            status = self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.process.stdout.close()
        return status

    def cleanup(self):
        self.errors.close()
        self.folder.cleanup()

    def request(self, method, path, body=None, headers=None, timeout=60):
        """(status, headers, body) of one HTTP request with a correct Host."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def raw(self, data, timeout=15):
        """Sends bytes as they are and returns what comes back: one whole
        answer, or whatever came before the studio closed the connection."""
        with socket.create_connection((self.host, self.port), timeout=timeout) as s:
            try:
                s.sendall(data)
            except (BrokenPipeError, ConnectionResetError):
                pass
            return read_answer(s)


def read_answer(s):
    """Reads from a socket until a whole HTTP answer (its Content-Length
    counted) has come, the connection closes or the socket times out."""
    received = b""
    try:
        while chunk := s.recv(65536):
            received += chunk
            head, separator, body = received.partition(b"\r\n\r\n")
            length = re.search(rb"(?im)^content-length:\s*(\d+)", head)
            if separator and length and len(body) >= int(length.group(1)):
                break
    except (ConnectionResetError, socket.timeout):
        pass
    return received


def status_of(response):
    """The status code of a raw HTTP response, or None when there is none."""
    match = re.match(rb"HTTP/1\.[01] (\d{3})", response)
    return int(match.group(1)) if match else None


def png(width, height, pixel=None):
    """An 8-bit grey PNG whose pixel (x, y) is pixel(x, y); by default a
    ramp from black on the left to white on the right."""
    if pixel is None:
        def pixel(x, y):
            return x * 255 // max(1, width - 1)
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    raw = b"".join(b"\0" + bytes(pixel(x, y) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def png_header_only(width, height):
    """A PNG that claims width x height pixels but holds no image data."""
    whole = png(1, 1)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    chunk = (struct.pack(">I", 13) + b"IHDR" + ihdr +
             struct.pack(">I", zlib.crc32(b"IHDR" + ihdr) & 0xffffffff))
    return whole[:8] + chunk + whole[33:]


def chromium_missing():
    """Why a headless Chromium cannot be driven here, or None when it can."""
    for program in ("chromium", "chromedriver"):
        if not shutil.which(program):
            return f"{program} is not installed"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    return None


def chromium(width, height, downloads=None):
    """A headless Chromium through Debian's chromedriver, with a viewport of
    exactly width x height CSS pixels, never touching the network: no proxy,
    no background services. Runs as root too (no sandbox)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--no-proxy-server", "--no-first-run", "--no-default-browser-check",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-extensions", "--mute-audio", "--autoplay-policy=no-user-gesture-required",
                     f"--window-size={width},{height}"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(executable_path=shutil.which("chromedriver")), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
    if downloads:
        driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": downloads, "eventsEnabled": True})
    return driver
