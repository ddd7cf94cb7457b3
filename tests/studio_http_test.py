"""Hostile HTTP against gridwave-studio: foreign Host and Origin, oversized
and malformed uploads and requests, path tricks, 50 renders at once and slow
clients. After each, the studio must still answer, and it must never leave a
file behind.

Usage: studio_http_test.py GRIDWAVE_STUDIO PICTURE.png"""

import json
import os
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_support import Studio, png, png_header_only, read_answer, status_of  # noqa: E402

STUDIO = None
PICTURE = None
MB = 1024 * 1024


class HostileRequests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.studio = Studio(STUDIO)
        with open(PICTURE, "rb") as f:
            cls.picture = f.read()
        cls.own = f"127.0.0.1:{cls.studio.port}"

    @classmethod
    def tearDownClass(cls):
        try:
            left = cls.studio.left_files()
            status = cls.studio.stop()
            messages = cls.studio.messages()
        finally:
            cls.studio.cleanup()
        assert left == [], f"the studio left files behind: {left}"
        assert status == 0, f"the studio ended with status {status} on SIGINT: {messages[-3000:]}"

    def assertStillAnswers(self):
        status, _, body = self.studio.request("GET", "/", timeout=5)
        self.assertEqual(status, 200)
        self.assertIn(b'id="render"', body)

    def render(self, query="mode=gridwave", body=None, headers=None):
        return self.studio.request("POST", "/api/render?" + query,
                                   body=self.picture if body is None else body, headers=headers)

    def assertRefused(self, reply, status, message_part):
        code, headers, body = reply
        self.assertEqual(code, status, body)
        self.assertEqual(headers.get("Content-Type"), "application/json")
        self.assertIn(message_part, json.loads(body)["error"])

    def test_page_and_assets_come_with_protective_headers(self):
        for path, kind in [("/", "text/html"), ("/studio.js", "text/javascript"),
                           ("/studio.css", "text/css"), ("/example.png", "image/png")]:
            status, headers, body = self.studio.request("GET", path)
            self.assertEqual(status, 200, path)
            self.assertTrue(headers["Content-Type"].startswith(kind), path)
            self.assertIn("default-src 'none'", headers["Content-Security-Policy"])
            self.assertIn("frame-ancestors 'none'", headers["Content-Security-Policy"])
            self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
            self.assertNotIn("Access-Control-Allow-Origin", headers)
            self.assertGreater(len(body), 0)
        # The page loads nothing from elsewhere.
        _, _, page = self.studio.request("GET", "/")
        self.assertNotIn(b"//", page.replace(b"http://www.w3.org", b""))

    def test_a_foreign_host_is_refused(self):
        port = self.studio.port
        for host in [f"evil.example:{port}", f"localhost.evil.example:{port}", f"127.0.0.1:{port + 1}",
                     "127.0.0.1", f"10.1.2.3:{port}", f"[::1]:{port}", ""]:
            with self.subTest(host=host):
                for method, path in [("GET", "/"), ("POST", "/api/render")]:
                    reply = self.studio.raw(f"{method} {path} HTTP/1.1\r\nHost: {host}\r\n"
                                            "Content-Length: 0\r\n\r\n".encode())
                    self.assertEqual(status_of(reply), 403, reply[:200])
                    self.assertNotIn(b"<html", reply)
        self.assertEqual(status_of(self.studio.raw(b"GET / HTTP/1.0\r\n\r\n")), 403)  # no Host at all
        for host in [self.own, f"localhost:{port}", f"LOCALHOST:{port}"]:
            self.assertEqual(status_of(self.studio.raw(f"GET / HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())), 200)

    def test_a_cross_site_render_is_refused(self):
        port = self.studio.port
        for origin in ["http://evil.example", "null", f"http://evil.example:{port}", f"https://{self.own}",
                       f"http://127.0.0.1:{port + 1}"]:
            with self.subTest(origin=origin):
                self.assertRefused(self.render(headers={"Origin": origin}), 403, "other sites")
        for site in ["cross-site", "same-site"]:
            self.assertRefused(self.render(headers={"Sec-Fetch-Site": site}), 403, "own page")
        # A preflight from elsewhere gets no CORS blessing either.
        status, headers, _ = self.studio.request("OPTIONS", "/api/render", headers={
            "Origin": "http://evil.example", "Access-Control-Request-Method": "POST"})
        self.assertEqual(status, 403)
        self.assertNotIn("Access-Control-Allow-Origin", headers)
        # The studio's own page is welcome.
        for origin in [f"http://{self.own}", f"http://localhost:{port}"]:
            status, _, _ = self.render(headers={"Origin": origin, "Sec-Fetch-Site": "same-origin"})
            self.assertEqual(status, 200, origin)

    def test_path_tricks_find_nothing(self):
        for path in ["/../../../../etc/passwd", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd",
                     "/studio.js/../../../etc/passwd", "//etc/passwd", "/..%5c..%5cetc%5cpasswd",
                     "/%252e%252e/etc/passwd", "/studio.js%00.png", "/.%2e/.%2e/etc/passwd", "/index.html",
                     "/CMakeLists.txt", "/api/render/../../etc/passwd", "/etc/passwd", "/proc/self/environ",
                     "/web/studio.js", "/tools/studio/web/index.html"]:
            with self.subTest(path=path):
                reply = self.studio.raw(f"GET {path} HTTP/1.1\r\nHost: {self.own}\r\n\r\n".encode())
                self.assertIn(status_of(reply), (400, 404), reply[:200])
                self.assertNotIn(b"root:", reply)
                self.assertNotIn(b"PATH=", reply)
        self.assertStillAnswers()

    def test_other_methods_are_refused(self):
        for method, path, status in [("PUT", "/", 405), ("DELETE", "/studio.js", 405), ("POST", "/", 405),
                                     ("GET", "/api/render", 405), ("PUT", "/api/render", 405),
                                     ("OPTIONS", "/", 405), ("PROPFIND", "/", 405), ("TRACE", "/", 405)]:
            with self.subTest(method=method, path=path):
                reply = self.studio.raw(f"{method} {path} HTTP/1.1\r\nHost: {self.own}\r\n"
                                        "Content-Length: 0\r\n\r\n".encode())
                self.assertIn(status_of(reply), (status, 400, 501), reply[:200])
                self.assertNotIn(b"Access-Control-Allow-Origin", reply)

    def test_an_oversized_upload_is_refused_without_reading_it(self):
        # Only the headers are sent: the answer must not wait for 40 MB.
        start = time.monotonic()
        reply = self.studio.raw(f"POST /api/render HTTP/1.1\r\nHost: {self.own}\r\n"
                                f"Content-Length: {40 * MB}\r\n\r\n".encode(), timeout=5)
        self.assertEqual(status_of(reply), 413, reply[:200])
        self.assertIn(b"32 MB", reply)
        self.assertLess(time.monotonic() - start, 3)
        # Without a length (chunked), an upload is refused: the page always states it.
        with socket.create_connection(("127.0.0.1", self.studio.port), timeout=30) as s:
            s.sendall(f"POST /api/render HTTP/1.1\r\nHost: {self.own}\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n".encode())
            block = b"%x\r\n" % MB + b"\0" * MB + b"\r\n"
            try:
                for _ in range(40):
                    s.sendall(block)
            except (BrokenPipeError, ConnectionResetError):
                pass
            reply = read_answer(s)
        self.assertEqual(status_of(reply), 411, reply[:200])
        # An upload of just under the limit is read, then refused as no picture.
        self.assertRefused(self.render(body=b"\0" * (32 * MB - 16)), 400, "not a supported image")
        self.assertStillAnswers()

    def test_malformed_pictures_get_a_clear_message(self):
        whole = png(64, 32)
        cases = [
            (b"", 400, "no picture"),
            (b"GIF89a" + b"\0" * 20, 400, "picture"),
            (os.urandom(5000), 400, "picture"),
            (whole[: len(whole) // 2], 400, "picture"),
            (whole[:40], 400, "picture"),
            (png_header_only(6000, 6000), 400, "too large"),
            (png_header_only(0, 10), 400, "picture"),
        ]
        for body, status, part in cases:
            with self.subTest(size=len(body), part=part):
                self.assertRefused(self.render(body=body), status, part)
                self.assertRefused(self.render("mode=img2sound&duration=1", body=body), status, part)
        self.assertRefused(self.render("mode=gridwave&rows=5000"), 400, "Rows must be from 1 to 4096")
        self.assertRefused(self.render("mode=gridwave&duration=3"), 400, "does not apply in gridwave mode")
        self.assertRefused(self.render("mode=img2sound&duration=999"), 400, "from 0.5 to 120 s")
        self.assertStillAnswers()

    def test_malformed_http_is_survived(self):
        own = f"Host: {self.own}\r\n"
        refused = (400, 403, 404, 405, 411, 413, 431, 505, None)  # None: closed without an answer
        cases = [
            (b"\x00\x01\x02garbage\r\n\r\n", refused),
            (b"GET\r\n\r\n", refused),
            (b"GET / HTTP/9.9\r\n\r\n", refused),
            (f"GET / HTTP/1.1\r\n{own}no colon here\r\n\r\n".encode(), refused + (200,)),
            (f"GET / HTTP/1.1\r\n{own}X-Big: {'a' * 40000}\r\n\r\n".encode(), refused),
            (f"GET / HTTP/1.1\r\n{own}".encode() + b"X: y\r\n" * 200 + b"\r\n", refused + (200,)),
            (f"POST /api/render HTTP/1.1\r\n{own}Content-Length: abc\r\n\r\n".encode(), refused),
            (f"POST /api/render HTTP/1.1\r\n{own}Content-Length: -5\r\n\r\n".encode(), refused),
            (f"POST /api/render HTTP/1.1\r\n{own}Content-Length: 99999999999999999999\r\n\r\n".encode(), refused),
            (f"POST /api/render HTTP/1.1\r\n{own}Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n".encode(),
             refused),
            (f"POST /api/render HTTP/1.1\r\n{own}Content-Length: 10\r\n\r\nabc".encode(), refused + (408,)),
            (f"POST /api/render HTTP/1.1\r\n{own}Content-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef".encode(),
             refused),
            (b"\r\n" * 5000, refused),
        ]
        for data, expected in cases:
            with self.subTest(data=data[:60]):
                reply = self.studio.raw(data, timeout=20)
                self.assertIn(status_of(reply), expected, reply[:200])
                self.assertTrue(self.studio.alive())
        self.assertStillAnswers()

    def test_fifty_renders_at_once(self):
        replies = [None] * 50
        picture = png(200, 60, lambda x, y: (x * 7 + y * 13) & 255)

        def one(i):
            try:
                replies[i] = self.render("mode=img2sound&duration=2" if i % 2 else "mode=gridwave", body=picture)
            except OSError as e:
                replies[i] = (None, {}, str(e).encode())

        threads = [threading.Thread(target=one, args=(i,)) for i in range(50)]
        for t in threads:
            t.start()
        # The page itself still comes at once while they run.
        start = time.monotonic()
        self.assertStillAnswers()
        self.assertLess(time.monotonic() - start, 3)
        for t in threads:
            t.join(120)
        statuses = [reply[0] for reply in replies]
        self.assertTrue(set(statuses) <= {200, 503}, statuses)
        self.assertGreaterEqual(statuses.count(200), 3, statuses)
        for status, headers, body in replies:
            if status == 200:
                self.assertEqual(json.loads(body)["sound"][:4], "UklG")  # "RIFF"
            else:
                self.assertEqual(headers.get("Retry-After"), "2")
                self.assertIn("busy", json.loads(body)["error"])
        self.assertEqual(self.render()[0], 200)
        peak_mb = self.studio.peak_memory_kb() / 1024
        print(f"\n50 renders at once: {statuses.count(200)} rendered, {statuses.count(503)} told to retry; "
              f"the studio's peak memory so far: {peak_mb:.0f} MB", file=sys.stderr)
        self.assertLess(peak_mb, 1024)

    def test_uploads_share_a_memory_budget(self):
        # Each declares 31 MB and sends nothing more: five fit in the budget, the sixth is turned away.
        held = []
        try:
            for _ in range(5):
                s = socket.create_connection(("127.0.0.1", self.studio.port), timeout=30)
                s.sendall(f"POST /api/render HTTP/1.1\r\nHost: {self.own}\r\n"
                          f"Content-Length: {31 * MB}\r\n\r\n".encode())
                held.append(s)
            time.sleep(0.5)
            self.assertRefused(self.render(body=b"x" * (31 * MB)), 503, "busy with other uploads")
        finally:
            for s in held:
                s.close()
        # Their budget comes back once they are gone.
        for _ in range(50):
            if self.render()[0] == 200:
                break
            time.sleep(0.2)
        else:
            self.fail("the upload budget never came back")

    def test_slow_clients_are_cut_off_and_do_not_block_others(self):
        openings = [
            b"GET / HTTP/1.1\r\n",  # a head that never ends
            f"POST /api/render HTTP/1.1\r\nHost: {self.own}\r\nContent-Length: 100000\r\n\r\n".encode(),
            # refused at once, then still trickling
            f"POST /api/render HTTP/1.1\r\nHost: {self.own}\r\nContent-Length: {40 * MB}\r\n\r\n".encode(),
        ]
        slow = []
        try:
            for i in range(21):
                s = socket.create_connection(("127.0.0.1", self.studio.port), timeout=30)
                s.sendall(openings[i % 3])
                slow.append(s)
            start = time.monotonic()
            ended = {}
            while time.monotonic() - start < 30 and len(ended) < len(slow):
                for i, s in enumerate(slow):
                    if i not in ended:
                        try:
                            s.sendall(b"X")  # one byte a second
                        except OSError:
                            ended[i] = time.monotonic() - start
                # Others are served all the while.
                t = time.monotonic()
                self.assertStillAnswers()
                self.assertLess(time.monotonic() - t, 2)
                time.sleep(1)
            self.assertEqual(len(ended), len(slow), f"still open after 30 s: {sorted(set(range(21)) - set(ended))}")
            print(f"\nslow clients cut off after {min(ended.values()):.0f} to {max(ended.values()):.0f} s",
                  file=sys.stderr)
        finally:
            for s in slow:
                s.close()


class CommandLine(unittest.TestCase):
    def run_studio(self, *args):
        return subprocess.run([STUDIO, *args], capture_output=True, text=True, timeout=20)

    def test_bad_command_lines_exit_2_with_a_message(self):
        for args, part in [(["--listen", "localhost"], "not an IPv4 address"),
                           (["--listen", "::1"], "not an IPv4 address"),
                           (["--port", "70000"], "--port"),
                           (["--port", "x"], "--port"),
                           (["--bogus"], "bogus")]:
            with self.subTest(args=args):
                result = self.run_studio(*args)
                self.assertEqual(result.returncode, 2)
                self.assertIn(part, result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1)

    def test_help(self):
        result = self.run_studio("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("--listen", result.stdout)

    def test_a_taken_port_is_reported(self):
        first = Studio(STUDIO)
        try:
            result = self.run_studio("--port", str(first.port))
            self.assertEqual(result.returncode, 1)
            self.assertIn(f"cannot listen on 127.0.0.1:{first.port}", result.stderr)
        finally:
            first.stop()
            first.cleanup()


if __name__ == "__main__":
    STUDIO, PICTURE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
