#!/usr/bin/env python3
"""A stand-in for the player's web server, for working on web/page.html without a box.

Serves the page and the same API with a made-up state: pairing with a code it logs as
the player does ("web: pairing code NNNNNN"), keys that move a clock over a fixed list
of subtitles, uploads that walk through the conversion steps, choose and delete.

    python3 tests/browser/standin_server.py [--port N] [--page web/page.html]
"""
import argparse
import http.cookies
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SUBTITLES = [(1000, 3000, "Šťastnou cestu, Petře."), (3500, 5000, "Děkuji, Šárko."),
             (5500, 7000, "Ať se ti daří."), (8000, 9500, "Máš klíče?")]
STEPS = ["wacht", "omzetten", "klaar"]


class Box:
    def __init__(self):
        self.lock = threading.Lock()
        self.code = None
        self.tokens = set()
        self.files = {"De_vuurtoren": b"", "Praag_bij_nacht": b""}
        self.current = "De_vuurtoren"
        self.clock = 0.0
        self.started = None
        self.shift = 0
        self.jobs = []
        self.status = "Start met OK"
        self.busy = False
        self.serial = 0

    def clock_ms(self):
        extra = time.monotonic() - self.started if self.started is not None else 0
        return int(self.clock + extra * 1000)

    def state(self):
        now = self.clock_ms()
        text = next((t for a, b, t in SUBTITLES if a <= now < b), "")
        for j in self.jobs:  # a step further on every look
            if j["step"] not in ("klaar", "mislukt"):
                j["step"] = STEPS[STEPS.index(j["step"]) + 1]
                if j["step"] == "klaar":
                    j["text"] = "Omgezet: " + j["name"]
                    self.files[j["name"].rsplit(".", 1)[0]] = b""
        self.serial += 1
        return {"serial": self.serial, "loaded": self.current is not None,
                "file": self.current or "", "clock_ms": now,
                "playing": self.started is not None, "subtitle": text,
                "shift_ms": self.shift, "rate": "1.0000", "question": False,
                "question_text": "", "status": self.status, "busy": self.busy,
                "jobs": self.jobs[-8:], "files": sorted(self.files)}

    def key(self, name):
        if name == "OK":
            if self.started is None:
                self.started = time.monotonic()
                self.status = ""
            else:
                self.clock = self.clock_ms()
                self.started = None
        elif name in ("CHANNELUP", "CHANNELDOWN"):
            d = 500 if name == "CHANNELUP" else -500
            # As the player: the clock moves and runs.
            self.clock = max(0, self.clock_ms() + d)
            self.started = time.monotonic()
        elif name in ("LEFT", "RIGHT"):
            now = self.clock_ms()
            starts = [a for a, _, _ in SUBTITLES]
            later = [a for a in starts if a > now]
            earlier = [a for a in starts if a < now]
            self.started = None
            if name == "RIGHT" and later:
                self.clock = later[0]
            elif name == "LEFT" and earlier:
                self.clock = earlier[-1]
        elif name in ("MENU", "EXIT"):
            self.busy = name == "MENU"
        elif name.isdigit():
            # The time entry: hours first; a digit out of range ends it.
            if "Tijd" in self.status or name > "3":
                self.status = ""
            else:
                self.status = " Tijd: %su --m --s" % name
        return True


box = Box()


class Handler(BaseHTTPRequestHandler):
    page = b""

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, body=None, headers=()):
        data = json.dumps(body if body is not None else {}).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(data)

    def paired(self):
        c = http.cookies.SimpleCookie(self.headers.get("Cookie", ""))
        return "lumetra" in c and c["lumetra"].value in box.tokens

    def body(self):
        n = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(n) if n else b""

    def changes_allowed(self):
        # As the box does: a change comes from the page itself, never from another site.
        origin = self.headers.get("Origin")
        host = self.headers.get("Host", "")
        return origin is None or origin == "http://" + host

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/":
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(self.page)))
            self.end_headers()
            self.wfile.write(self.page)
            return
        if not self.paired():
            return self.reply(401, {"error": "niet gekoppeld"})
        with box.lock:
            if path == "/api/state":
                return self.reply(200, box.state())
            if path == "/api/files":
                return self.reply(200, {"files": sorted(box.files), "current": box.current or ""})
        self.reply(404, {"error": "onbekend"})

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        body = self.body()
        if not self.changes_allowed():
            return self.reply(403, {"error": "niet toegestaan"})
        with box.lock:
            if url.path == "/api/pair":
                if not body:
                    box.code = "%06d" % secrets.randbelow(1000000)
                    print("web: pairing code " + box.code, flush=True)
                    return self.reply(200, {})
                code = json.loads(body or b"{}").get("code")
                if box.code is None or code != box.code:
                    return self.reply(403, {"error": "verkeerde code"})
                token = secrets.token_hex(16)
                box.tokens.add(token)
                box.code = None
                return self.reply(200, {}, [("Set-Cookie", "lumetra=%s; HttpOnly; SameSite=Strict; Path=/" % token)])
            if not self.paired():
                return self.reply(401, {"error": "niet gekoppeld"})
            if self.headers.get("Content-Type") != "application/json" and url.path == "/api/key":
                return self.reply(415, {"error": "verkeerd soort verzoek"})
            if url.path == "/api/key":
                box.key(json.loads(body).get("key"))
                return self.reply(200, {})
            parts = url.path.split("/")
            if len(parts) == 5 and parts[1:3] == ["api", "files"] and parts[4] == "choose":
                name = urllib.parse.unquote(parts[3])
                if name not in box.files:
                    return self.reply(404, {"error": "bestaat niet"})
                box.current = name
                box.clock, box.started = 0, None
                return self.reply(200, {})
        self.reply(404, {"error": "onbekend"})

    def do_PUT(self):
        url = urllib.parse.urlsplit(self.path)
        body = self.body()
        if not self.changes_allowed():
            return self.reply(403, {"error": "niet toegestaan"})
        if not self.paired():
            return self.reply(401, {"error": "niet gekoppeld"})
        parts = url.path.split("/")
        if len(parts) != 4 or parts[1:3] != ["api", "files"]:
            return self.reply(404, {"error": "onbekend"})
        name = urllib.parse.unquote(parts[3])
        replace = urllib.parse.parse_qs(url.query).get("replace") == ["1"]
        base = name.rsplit(".", 1)[0]
        with box.lock:
            # The demo's files were written by hand: the box names the .tkx it would lose.
            if base in ("De_vuurtoren", "Praag_bij_nacht") and not replace:
                return self.reply(409, {"error": base + ".tkx bestaat al"})
            if base in box.files and not replace:
                return self.reply(409, {"error": "bestaat al"})
            box.jobs.append({"name": name, "step": "wacht", "percent": 0, "text": ""})
        self.reply(201, {})

    def do_DELETE(self):
        if not self.changes_allowed():
            return self.reply(403, {"error": "niet toegestaan"})
        if not self.paired():
            return self.reply(401, {"error": "niet gekoppeld"})
        name = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path.split("/")[-1])
        with box.lock:
            if name not in box.files:
                return self.reply(404, {"error": "bestaat niet"})
            del box.files[name]
            if box.current == name:
                box.current = None
        self.reply(200, {})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--page", default="web/page.html")
    a = ap.parse_args()
    with open(a.page, "rb") as f:
        Handler.page = f.read()
    server = ThreadingHTTPServer(("127.0.0.1", a.port), Handler)
    print("web: listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    sys.exit(0)


if __name__ == "__main__":
    main()
