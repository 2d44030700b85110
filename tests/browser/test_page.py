#!/usr/bin/env python3
"""The player's web page in a real browser (headless Chromium) against the simulator.

One evening from a phone: pair with the code the TV shows, drop Czech Windows-1250
subtitles in through the file input and through a drop on the drop zone, see them
converted and listed, choose one, start, shift, see the subtitle of the moment on the
page and on the TV, delete a file, read the TV's status line. Then a page of another
origin tries to steer the player with the paired cookie in the browser, and the
layout is measured at 360x740 and on a desktop.

Environment: LUMETRA_SIM (the lumetra-sim binary) or LUMETRA_STANDIN=1 (the stand-in
server, without a TV to take snapshots of), LUMETRA_SOURCE_DIR, LUMETRA_BROWSER_OUT
(screenshots). Exit status 77 when no browser can be had.
"""
import base64
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SKIP = 77
try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(SKIP)

SOURCE = os.environ.get("LUMETRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.environ.get("LUMETRA_BROWSER_OUT", os.path.join(SOURCE, "out"))
SIM = os.environ.get("LUMETRA_SIM", "")
STANDIN = os.environ.get("LUMETRA_STANDIN") == "1"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf"
DEADLINE = 20  # seconds for any one thing to show up

# The uploads: (file name as the phone has it, sample, name in the list).
BY_INPUT = ("Cesta.srt", "tests/samples/convert/czech-short-1250.srt", "Cesta")
BY_DROP = ("Nocni_vlak.srt", "tests/samples/browser/nocni-vlak-1250.srt", "Nocni_vlak")


def sample_lines(path):
    """The subtitle texts of an SRT in Windows-1250, one string per cue."""
    with open(os.path.join(SOURCE, path), "rb") as f:
        text = f.read().decode("cp1250").replace("\r", "")
    return [block.split("\n", 2)[2].strip() for block in text.strip().split("\n\n")]


# ---- The player (or the stand-in) as a child process whose log is read as it comes.

class Player:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="lumetra-browser-")
        tit = os.path.join(self.root, "var/tuxbox/Tresk/tit")
        os.makedirs(tit)
        demo = os.path.join(SOURCE, "demo/root/var/tuxbox/Tresk/tit")
        for name in ("De_vuurtoren.tkx", "Praag_bij_nacht.tkx"):
            shutil.copy(os.path.join(demo, name), tit)
        os.symlink("De_vuurtoren.tkx", os.path.join(tit, "tresk.qst"))
        shutil.copy(FONT, os.path.join(self.root, "var/tuxbox/Tresk/Tresk.ttf"))
        if STANDIN:
            argv = [sys.executable, os.path.join(SOURCE, "tests/browser/standin_server.py"),
                    "--page", os.path.join(SOURCE, "web/page.html")]
        else:
            argv = [SIM, "--headless", "--web", "0", "--root", self.root, "--keys", "-",
                    "--timeout", "300"]
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, cwd=self.root)
        self.log = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        try:
            port = self.wait_log(r"web: listening on 127\.0\.0\.1:(\d+)")
        except AssertionError:
            self.stop()
            raise
        self.url = "http://127.0.0.1:%s/" % port

    def _read(self):
        for raw in self.proc.stdout:
            with self.cond:
                self.log.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.log.append(None)  # the end
            self.cond.notify_all()

    def wait_log(self, pattern, after=0):
        """The first group of the first log line from index after matching pattern."""
        end = time.monotonic() + DEADLINE
        with self.cond:
            while True:
                for line in self.log[after:]:
                    if line is None:
                        raise AssertionError("the player ended; its log:\n" + self.text())
                    m = re.search(pattern, line)
                    if m:
                        return m.group(1)
                left = end - time.monotonic()
                if left <= 0:
                    raise AssertionError("no %r in the log:\n%s" % (pattern, self.text()))
                self.cond.wait(left)

    def text(self):
        return "\n".join(l for l in self.log if l is not None)

    def snap(self, name):
        """The TV's picture now, through the key script's snap command: its pixels."""
        path = os.path.join(self.root, name)
        self.proc.stdin.write(("snap %s\n" % path).encode())
        self.proc.stdin.flush()
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            if os.path.exists(path):
                try:
                    picture = read_png(path)
                    shutil.copy(path, os.path.join(OUT, "tv-" + name))
                    return picture
                except (ValueError, zlib.error, struct.error):
                    pass  # still being written
            time.sleep(0.05)
        raise AssertionError("no snapshot " + path)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def read_png(path):
    """(width, height, rows of RGB(A) bytes) of an 8-bit, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG")
    pos, idat, head, ended = 8, b"", None, False
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            ended = True
        pos += 12 + n
    if head is None or not ended or head[2] != 8 or head[6] != 0:
        raise ValueError("unexpected PNG layout")
    w, h, colour = head[0], head[1], head[3]
    bpp = {2: 3, 6: 4}[colour]
    raw = zlib.decompress(idat)
    rows, prev, stride = [], bytearray(w * bpp), w * bpp
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return w, h, bpp, rows


def text_extent(one, other):
    """The lowest band of rows where two pictures of one size differ (the subtitle; the
    status line with its clock is at the top), and in each picture the leftmost and
    rightmost column there that differs from the band's background (its left edge's
    colour): [rows, (left, right), (left, right)]."""
    w, h, bpp, rows_a = one
    rows_b = other[3]
    band = []
    for y in range(h - 1, -1, -1):
        if rows_a[y] != rows_b[y]:
            band.append(y)
        elif band:
            break
    extents = []
    for rows in (rows_a, rows_b):
        left, right = w, -1
        for y in band:
            row = rows[y]
            ground = row[0:bpp]
            xs = [x for x in range(w) if row[x * bpp:(x + 1) * bpp] != ground]
            if xs:
                left, right = min(left, xs[0]), max(right, xs[-1])
        extents.append((left, right))
    return [band] + extents


# ---- Another origin: a tiny site that tries to steer the box with the viewer's cookie.

EVIL_PAGE = """<!DOCTYPE html><html><body>
<form id="f" method="POST" enctype="text/plain" action="%(box)sapi/key">
<input name='{"key":"OK","x":"' value='"}'></form>
<script>
async function attempt() {
  const tries = [
    ['%(box)sapi/key', {method: 'POST', credentials: 'include', mode: 'no-cors',
      headers: {'Content-Type': 'text/plain'}, body: '{"key":"OK"}'}],
    ['%(box)sapi/key', {method: 'POST', credentials: 'include',
      headers: {'Content-Type': 'application/json'}, body: '{"key":"OK"}'}],
    ['%(box)sapi/files/%(victim)s/choose', {method: 'POST', credentials: 'include', mode: 'no-cors'}],
    ['%(box)sapi/files/%(victim)s', {method: 'DELETE', credentials: 'include'}],
  ];
  const seen = [];
  for (const [url, opt] of tries) {
    try { const r = await fetch(url, opt); seen.push(r.type + ' ' + r.status); }
    catch (e) { seen.push('refused'); }
  }
  document.title = 'tried: ' + seen.join(', ');
}
</script></body></html>"""


def serve_evil(box_url, victim):
    page = (EVIL_PAGE % {"box": box_url, "victim": victim}).encode()

    class Handler(BaseHTTPRequestHandler):
        def log_message(self, fmt, *args):
            pass

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# ---- The test.

def start_browser():
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1280,900", "--lang=nl"):
        options.add_argument(arg)
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(OUT, exist_ok=True)
        try:
            cls.browser = start_browser()
        except WebDriverException as e:
            print("SKIP: no headless Chromium: %s" % str(e).splitlines()[0])
            sys.exit(SKIP)
        try:
            cls.player = Player()
        except AssertionError:
            cls.browser.quit()
            raise
        cls.evil = None

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.player.stop()
        if cls.evil:
            cls.evil.shutdown()

    # -- helpers

    def until(self, what, cond):
        """cond's first true value within the deadline."""
        try:
            return WebDriverWait(self.browser, DEADLINE, poll_frequency=0.05).until(lambda d: cond())
        except Exception:
            self.browser.save_screenshot(os.path.join(OUT, "failed.png"))
            raise AssertionError("not seen within %d s: %s\nplayer log:\n%s"
                                 % (DEADLINE, what, self.player.text()[-3000:]))

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def text(self, element_id):
        return self.js("return document.getElementById(arguments[0]).textContent", element_id)

    def shown(self, element_id):
        return self.js("const e = document.getElementById(arguments[0]);"
                       "return !!e && e.getClientRects().length > 0", element_id)

    def state(self):
        """The player's state as the API gives it to the paired browser."""
        return self.browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/state', {credentials: 'same-origin'}).then(r => r.json())"
            ".then(done, () => done(null));")

    def state_when(self, what, holds):
        """The first state of the player's for which holds is true."""
        def check():
            s = self.state()
            return s if s is not None and holds(s) else None
        return self.until(what, check)

    def later_state(self, passes=3):
        """A state published at least passes snapshots after now: what was queued is done."""
        first = self.state()["serial"]
        return self.state_when("the state to be published again", lambda s: s["serial"] >= first + passes)

    def listed(self):
        return self.js("return Array.from(document.querySelectorAll('#files li'))"
                       ".map(li => [li.dataset.name, li.classList.contains('current')])")

    def button(self, css):
        return self.browser.find_element(By.CSS_SELECTOR, css)

    def press(self, key):
        self.button("#steer .steer button[data-key='%s']" % key).click()

    def phone(self):
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 360, "height": 740, "deviceScaleFactor": 2, "mobile": True})

    def desktop(self):
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})

    def screenshot(self, name, full=True):
        shot = self.browser.execute_cdp_cmd("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": full})
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def check_layout(self, view):
        """No sideways scrolling at 360 px and every control big enough for a thumb."""
        m = self.js(
            "const small = [];"
            "for (const b of document.querySelectorAll('button, .btn, summary, input')) {"
            "  const r = b.getBoundingClientRect();"
            "  if (r.width === 0 && r.height === 0) continue;"
            "  if (b.classList.contains('visually-hidden')) continue;"
            "  if (r.height < 44) small.push((b.textContent || b.id).trim() + ' ' + r.height);"
            "}"
            "return {scroll: document.documentElement.scrollWidth, inner: window.innerWidth,"
            "        small: small, count: document.querySelectorAll('button').length};")
        self.assertLessEqual(m["scroll"], m["inner"], "%s scrolls sideways" % view)
        self.assertEqual(m["small"], [], "%s: controls under 44 px" % view)

    # -- the evening

    def test_evening(self):
        b, p = self.browser, self.player
        self.phone()
        b.get(p.url)

        # Unpaired: only the pairing view; a wrong code gets the box's own answer.
        self.until("the pairing view", lambda: self.shown("pairing"))
        self.assertFalse(self.shown("main"))
        self.screenshot("pairing-360.png")
        self.check_layout("the pairing view")
        mark = len(p.log)
        self.button("#pair-ask").click()
        code = p.wait_log(r"web: pairing code (\d{6})", mark)
        wrong = code[:5] + str((int(code[5]) + 1) % 10)
        self.button("#pair-code").send_keys(wrong)
        self.button("#pair-send").click()
        self.until("the box's error for a wrong code",
                   lambda: self.text("pair-error") not in ("", "Kijk op de tv voor de code.",
                                                           "De code heeft 6 cijfers."))
        self.assertFalse(self.shown("main"))
        self.button("#pair-code").clear()
        self.button("#pair-code").send_keys(code)
        self.button("#pair-send").click()
        self.until("the main view once paired", lambda: self.shown("main"))
        self.assertFalse(self.shown("pairing"))

        # Uploads: one through the file input, one dropped on the zone, one too big. The
        # page sends one at a time (the box holds one upload's bytes at once).
        self.js("window.puts = 0; window.mostPuts = 0;"
                "const send = XMLHttpRequest.prototype.send;"
                "XMLHttpRequest.prototype.send = function (body) {"
                "  window.puts++; window.mostPuts = Math.max(window.mostPuts, window.puts);"
                "  this.addEventListener('readystatechange', () => { if (this.readyState === 4) window.puts--; });"
                "  return send.call(this, body);"
                "};")
        name, sample, listed_as = BY_INPUT
        phone = tempfile.mkdtemp(prefix="lumetra-phone-")
        self.addCleanup(shutil.rmtree, phone, True)
        upload = os.path.join(phone, name)
        shutil.copy(os.path.join(SOURCE, sample), upload)
        self.button("#file-input").send_keys(upload)
        with open(os.path.join(SOURCE, BY_DROP[1]), "rb") as f:
            self.drop((BY_DROP[0], f.read()))
        self.drop(("Te_groot.srt", b"1\n00:00:01,000 --> 00:00:02,000\nx\n\n" * 120000))
        for n, _, as_listed in (BY_INPUT, BY_DROP):
            self.until(as_listed + " listed", lambda: [as_listed, False] in self.listed())
            self.until(n + " converted", lambda: self.job_line(n).startswith(n + ": klaar"))
        self.until("the refusal of a file over 4 MB",
                   lambda: self.job_line("Te_groot.srt") == "Te_groot.srt: te groot (max. 4 MB)")
        self.assertNotIn("Te_groot", [n for n, _ in self.listed()])

        # The same name again: the page's own question, and on yes it is replaced.
        jobs = lambda: [j for j in self.state()["jobs"] if j["name"] == name]
        taken = len(jobs())
        self.button("#file-input").send_keys(upload)
        self.until("the question whether to replace", lambda: self.shown("ask"))
        self.assertEqual(self.text("ask-text"), name + " bestaat al. Vervangen?")
        self.button("#ask-yes").click()
        self.until("the replacement taken and converted",
                   lambda: len(jobs()) > taken and jobs()[-1]["step"] == "klaar")
        self.until("the replacement's line", lambda: self.job_line(name).startswith(name + ": klaar"))

        # Names of files written by hand on the box, dropped one after the other: the box
        # names each .tkx, the page asks one question at a time, and No leaves them.
        self.drop(*((hand_made + ".srt", b"1\n00:00:01,000 --> 00:00:02,000\nNieuw\n")
                    for hand_made in ("De_vuurtoren", "Praag_bij_nacht")))
        for hand_made in ("De_vuurtoren", "Praag_bij_nacht"):
            self.until("the question for " + hand_made, lambda: self.shown("ask")
                       and self.text("ask-text") == hand_made + ".tkx bestaat al. Vervangen?")
            self.button("#ask-no").click()
        after = self.later_state()
        self.assertFalse(self.shown("ask"))
        for hand_made in ("De_vuurtoren", "Praag_bij_nacht"):
            self.assertNotIn(hand_made + ".srt", [j["name"] for j in after["jobs"]])
            self.assertIn(hand_made, after["files"])
        self.assertEqual(self.js("return window.mostPuts"), 1, "uploads sent side by side")

        # Choose, start, shift: the subtitle of the moment on the page and on the TV.
        li = "#files li[data-name='%s'] " % listed_as
        self.button(li + "button.choose").click()
        self.until(listed_as + " chosen", lambda: self.text("file") == listed_as
                   and [listed_as, True] in self.listed())
        lines = sample_lines(sample)
        # The buttons stay where they are whatever the subtitle: measured without one now.
        self.until("no subtitle before the start", lambda: self.text("subtitle") == "")
        buttons_at = self.js("return document.getElementById('play').getBoundingClientRect().top")
        self.press("OK")
        self.until("the clock running", lambda: self.text("playing") == "speelt")
        self.until("a subtitle of the file on the page", lambda: self.text("subtitle") in lines)
        # +0,5 s from a known time: stopped at the start of the next subtitle, the key
        # moves the clock half a second ahead and runs it.
        self.press("OK")
        self.until("the clock stopped", lambda: not self.state()["playing"])
        self.press("RIGHT")
        at = self.state_when("the clock at a subtitle's start",
                             lambda s: not s["playing"] and s["subtitle"] in lines)
        self.press("CHANNELUP")
        moved = self.state_when("the clock running after +0,5 s", lambda s: s["playing"])
        self.assertGreaterEqual(moved["clock_ms"], at["clock_ms"] + 500)
        self.until("a subtitle of the file on the page", lambda: self.text("subtitle") in lines)
        # Stopped, the picture holds still; between two subtitles, the next one is shown.
        self.press("OK")
        stopped = self.state_when("the clock stopped", lambda s: not s["playing"])
        if stopped["subtitle"] == "":
            self.press("RIGHT")
        self.until("the page showing what the player shows",
                   lambda: self.text("subtitle") != "" and self.text("subtitle") == self.state()["subtitle"]
                   and self.text("playing") == "gestopt")
        shown = self.text("subtitle")
        self.assertIn(shown, lines)
        self.assertEqual(self.js("return document.getElementById('play').getBoundingClientRect().top"),
                         buttons_at, "the buttons moved with the subtitle")
        self.assertRegex(self.text("shift"), r"^[+\u2212]\d+,\d{1,2} s$")
        self.screenshot("main-360.png")
        if not STANDIN:
            self.check_tv_shows(shown, lines)

        # Status line: a typed digit starts the time entry, which the TV's status line
        # shows; a digit out of range ends it and clears the line.
        self.open_remote()
        self.button("#remote button[data-key='0']").click()
        self.until("the time entry on the TV's status line, on the page",
                   lambda: "Tijd: 0u --m --s" in self.text("tvstatus")
                   and self.text("tvstatus") == self.state()["status"])
        self.button("#remote button[data-key='9']").click()
        self.until("the status line cleared, on the page",
                   lambda: self.text("tvstatus") == "" and self.state()["status"] == "")

        # A menu open on the TV: the page says so until it closes.
        self.button("#remote button[data-key='MENU']").click()
        self.until("the page telling of the TV's menu", lambda: self.shown("busy") and self.state()["busy"])
        self.button("#remote button[data-key='EXIT']").click()
        self.until("the menu closed, on the page", lambda: not self.shown("busy") and not self.state()["busy"])

        # Delete after the page's question: No keeps the file, Yes removes it.
        other = BY_DROP[2]
        self.button("#files li[data-name='%s'] button.remove" % other).click()
        self.until("the question before deleting", lambda: self.shown("ask"))
        self.assertEqual(self.text("ask-text"), "Verwijder %s met de bronbestanden?" % other)
        self.button("#ask-no").click()
        self.assertIn(other, self.later_state()["files"])
        self.button("#files li[data-name='%s'] button.remove" % other).click()
        self.until("the question before deleting", lambda: self.shown("ask"))
        self.button("#ask-yes").click()
        self.until(other + " gone", lambda: other not in [n for n, _ in self.listed()])
        self.assertNotIn(other, self.later_state()["files"])

        # Layout at 360x740 with the remote's panel open, and on a desktop.
        self.check_layout("the main view at 360x740")
        self.screenshot("remote-360.png")
        self.desktop()
        self.js("window.scrollTo(0, 0)")
        self.screenshot("desktop.png", full=False)
        self.phone()

        # Another origin cannot steer the player though the browser holds the cookie.
        self.check_other_origin(listed_as)

        # Hidden, the page asks every 5 s; seen again, at once and then twice a second.
        self.js("window.plans = [];"
                "const real = window.setTimeout;"
                "window.setTimeout = function (f, ms) {"
                "  if (f === window.poll) window.plans.push(ms);"
                "  return real.apply(this, arguments);"
                "};"
                "window.seen = 'hidden';"
                "Object.defineProperty(document, 'visibilityState', {get: () => window.seen, configurable: true});"
                "document.dispatchEvent(new Event('visibilitychange'));")
        self.until("a poll planned 5 s ahead while hidden", lambda: 5000 in self.js("return window.plans"))
        self.js("window.plans = []; window.seen = 'visible';"
                "document.dispatchEvent(new Event('visibilitychange'));")
        self.until("a poll planned 0.5 s ahead once seen", lambda: self.js("return window.plans")[:1] == [500])

        # The box hangs (stopped, its socket still open): the page says so, asks again
        # and again but one request at a time, and comes back with the box.
        self.js("window.inflight = 0; window.most = 0; window.polls = 0;"
                "const real = window.fetch;"
                "window.fetch = function (url) {"
                "  if (!String(url).includes('/api/state')) return real.apply(this, arguments);"
                "  window.polls++; window.inflight++; window.most = Math.max(window.most, window.inflight);"
                "  return real.apply(this, arguments).finally(() => window.inflight--);"
                "};")
        p.proc.send_signal(signal.SIGSTOP)
        try:
            self.until("'geen verbinding'", lambda: self.shown("offline"))
            self.assertEqual(self.text("offline"), "geen verbinding")
            polls = self.js("return window.polls")
            self.until("the page asking again", lambda: self.js("return window.polls") >= polls + 2)
            self.assertEqual(self.js("return window.most"), 1, "polls piled up")
        finally:
            p.proc.send_signal(signal.SIGCONT)
        self.until("the connection back", lambda: not self.shown("offline"))

    def test_formats(self):
        """The clock as h:mm:ss and the shift with its sign and one or two decimals."""
        self.browser.get(self.player.url)
        clocks = [(0, "0:00:00"), (999, "0:00:00"), (59999, "0:00:59"), (3599999, "0:59:59"),
                  (3600000, "1:00:00"), (36000000, "10:00:00"), (4294967295, "1193:02:47")]
        shifts = [(0, "+0,0 s"), (500, "+0,5 s"), (-500, "\u22120,5 s"), (2000, "+2,0 s"),
                  (1250, "+1,25 s"), (-40, "\u22120,04 s"), (1005, "+1,01 s"), (-4, "+0,0 s"),
                  (-1995, "\u22122,0 s"), (123456, "+123,46 s")]
        for function, table in (("clockText", clocks), ("shiftText", shifts)):
            for ms, text in table:
                with self.subTest(function=function, ms=ms):
                    self.assertEqual(self.js("return %s(arguments[0])" % function, ms), text)

    def check_tv_shows(self, shown, lines):
        """The TV draws the subtitle the page shows: against another subtitle of clearly
        other length, reached with the previous/next keys, the TV's picture changes in a
        band, and there the longer text is drawn wider."""
        first = self.player.snap("first.png")
        longest, shortest = max(lines, key=len), min(lines, key=len)
        target = shortest if len(shown) > (len(longest) + len(shortest)) / 2 else longest
        for _ in range(2 * len(lines)):
            now = self.text("subtitle")
            if now == target:
                break
            key = "RIGHT" if lines.index(target) > lines.index(now) else "LEFT"
            serial = self.state()["serial"]
            self.press(key)
            self.until("the page after " + key, lambda: self.state()["serial"] > serial
                       and self.text("subtitle") == self.state()["subtitle"] != "")
        self.assertEqual(self.text("subtitle"), target)
        second = self.player.snap("second.png")
        band, (l1, r1), (l2, r2) = text_extent(first, second)
        self.assertTrue(band, "the TV's picture did not change with the subtitle")
        self.assertGreater(r1, l1, "no subtitle drawn on the TV with %r on the page" % shown)
        self.assertGreater(r2, l2, "no subtitle drawn on the TV with %r on the page" % target)
        wide, narrow = (r1 - l1, r2 - l2) if len(shown) > len(target) else (r2 - l2, r1 - l1)
        self.assertGreater(wide, narrow * 1.3, "the TV's subtitle widths do not follow the page's texts")

    def check_other_origin(self, chosen):
        before = self.later_state()
        self.assertFalse(before["playing"])
        self.evil = serve_evil(self.player.url, chosen)
        main = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        self.browser.get("http://127.0.0.1:%d/" % self.evil.server_address[1])
        self.js("attempt()")
        self.until("the other site's tries to end", lambda: self.browser.title.startswith("tried: "))
        tried = self.browser.title
        self.js("document.getElementById('f').submit()")
        self.until("the form posted to the box", lambda: self.browser.current_url.startswith(self.player.url))
        self.browser.close()
        self.browser.switch_to.window(main)
        after = self.later_state()
        for field in ("playing", "clock_ms", "file", "files", "shift_ms"):
            self.assertEqual(after[field], before[field], "another origin changed %s (%s)" % (field, tried))

    def open_remote(self):
        self.js("document.getElementById('remote').open = true")

    def job_line(self, name):
        return self.js("const li = Array.from(document.querySelectorAll('#jobs li'))"
                       ".find(l => l.dataset.name === arguments[0]);"
                       "return li ? li.querySelector('.name').textContent : ''", name)

    def drop(self, *files):
        """Drops on the drop zone, as a file manager's drags end: one drop for each
        (name, bytes), all in one go."""
        self.js("for (const [name, data] of arguments[0]) {"
                "  const bytes = Uint8Array.from(atob(data), c => c.charCodeAt(0));"
                "  const t = new DataTransfer();"
                "  t.items.add(new File([bytes], name, {type: 'application/x-subrip'}));"
                "  const zone = document.getElementById('drop');"
                "  for (const kind of ['dragenter', 'dragover', 'drop'])"
                "    zone.dispatchEvent(new DragEvent(kind, {bubbles: true, cancelable: true, dataTransfer: t}));"
                "}",
                [[name, base64.b64encode(data).decode()] for name, data in files])


if __name__ == "__main__":
    if not STANDIN and not os.access(SIM, os.X_OK):
        print("SKIP: no lumetra-sim at %r" % SIM)
        sys.exit(SKIP)
    unittest.main(verbosity=2)
