#!/usr/bin/env python3
"""The local test site: a real HTTP server on 127.0.0.1 for the network tests.

Every folder below the root is one site, served under /<folder>/. A request for
/<folder>/<name> answers with the fixture file <name> from that folder, or 404;
one with a query, /<folder>/<name>?<query>, with the file "<name>@<query>" when
there is one (a file name cannot hold "?"), else as without the query; a
folder's address, ending in "/", with its index.html.
A folder may hold routes.json, a table of paths (relative to the site) with
answers that a plain file cannot give:

  "status"      HTTP status, 200 by default
  "headers"     header lines sent as written, in order (names keep their case):
                an object of names and values, or a list of [name, value] pairs
                when a name comes twice (two Set-Cookie lines)
  "needs_cookie" "name=value": unless a Cookie header of the request carries
                that pair, the answer is a 403 refusal page instead, or the
                fixture file "refused_file" with the status "refused_status"
                (403 unless given): a challenge page, say
  "file"        fixture file for the body, or "body" for literal UTF-8 text
  "repeat"      the body repeated this many times
  "encoding"    "gzip", "zlib" or "deflate" (raw): the body is compressed so
  "delay_ms"    wait this long before answering
  "behaviour"   "stall": send the headers and the first half of the body, then
                hold the connection open without sending ("hold_ms", 30 s);
                "cut": declare the whole length, send half, close;
                "trickle": send the body in "pieces" parts, "interval_ms" apart;
                "chunked": the body in chunked transfer encoding, without a
                Content-Length; with "endless": true it is sent again and
                again until the client hangs up;
                "echo": the body is the request target's bytes as received;
                "echo-request": the body is the whole request as received:
                request line, header lines, blank line and body, byte for byte;
                "redirect": answers with the status of the query parameter
                "status" (else "status", else 302) and a Location of the
                percent-decoded bytes of the query parameter "to"
  "query"       {"param": "q", "charset": "gbk", "answers": {"value": "file"},
                 "otherwise": "file"}: the body file is chosen by the value of
                 the query parameter, decoded from the charset (raw or
                 percent-encoded bytes both work)
  "sequence"    a list of route entries: the n-th request for the same target
                (path and query, as sent) is answered by entry n, the last
                entry answering every later one; lets a route fail first and
                recover later

POST requests are routed as GET requests are; their body is read first (by
its Content-Length) and only "echo-request" shows it.

A connection that opens with a TLS handshake is answered at once with a plain
400, as a plain HTTP server answers bytes it cannot read, so that an https://
address on this port fails its handshake instead of waiting for a line end.

Every request is logged. GET /_log?prefix=P (P percent-encoded) answers one
line per logged request whose target starts with the bytes of P, in order of
arrival: "<arrived> <answered> <method> <target>", the two times in
milliseconds since the server started, "answered" taken just before the
answer's first byte is sent. The log shows when requests arrived and how many
were being served at once.

Usage: test_site.py ROOT. The server picks a free port, prints "PORT <n>" on
standard output once it listens, and serves until it is terminated.
"""

import gzip
import json
import mimetypes
import os
import re
import socket
import sys
import threading
import time
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HIGH_BYTE = re.compile(rb"[\x80-\xff]")
# The first byte of a TLS handshake record.
TLS_HANDSHAKE = b"\x16"
STARTED = time.monotonic()
REFUSAL_PAGE = b"<html><body>cookie required</body></html>"


def now_ms():
    return (time.monotonic() - STARTED) * 1000.0


class RecordingReader:
    """Passes reads through to a stream and keeps every line read, so that the
    header lines of a request are known exactly as they arrived."""

    def __init__(self, stream):
        self.stream = stream
        self.lines = []

    def readline(self, *args):
        line = self.stream.readline(*args)
        self.lines.append(line)
        return line

    def __getattr__(self, name):
        return getattr(self.stream, name)


def query_value(query, wanted):
    """The percent-decoded bytes of the first query parameter named wanted."""
    for pair in query.split(b"&"):
        name, _, value = pair.partition(b"=")
        if name == wanted:
            return urllib.parse.unquote_to_bytes(value)
    return None


def compress(body, encoding):
    if encoding == "gzip":
        return gzip.compress(body)
    if encoding == "zlib":
        return zlib.compress(body)
    if encoding == "deflate":
        raw = zlib.compressobj(wbits=-15)
        return raw.compress(body) + raw.flush()
    return body


class Site:
    def __init__(self, folder):
        self.folder = folder
        table = os.path.join(folder, "routes.json")
        self.routes = {}
        if os.path.exists(table):
            with open(table, encoding="utf-8") as stream:
                self.routes = json.load(stream)

    def read(self, name):
        path = os.path.realpath(os.path.join(self.folder, name))
        if not path.startswith(os.path.realpath(self.folder) + os.sep):
            return None
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as stream:
            return stream.read()


class Server(ThreadingHTTPServer):
    daemon_threads = True
    # Room for the bursts of new connections that the concurrency tests and benchmarks open.
    request_queue_size = 256


class Handler(BaseHTTPRequestHandler):
    sites = {}
    lock = threading.Lock()
    # (arrived, answered, method, target) of every request answered.
    log = []
    # How many requests each target has had, for "sequence" routes.
    counts = {}

    def log_message(self, *args):
        pass

    def handle(self):
        # A TLS client speaks first, with a handshake record that need not hold the line end the
        # request parser waits for.
        try:
            first = self.connection.recv(1, socket.MSG_PEEK)
        except OSError:
            return
        if first == TLS_HANDSHAKE:
            self.connection.recv(65536)
            self.send_part(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
            return
        super().handle()

    def parse_request(self):
        # The request target keeps its raw bytes (GBK search keys arrive unescaped); the parser
        # of the standard library only sees them percent-encoded, since it splits on bytes such
        # as 0x85 and 0xA0 that it takes for white space.
        line = self.raw_requestline
        parts = line.rstrip(b"\r\n").split(b" ")
        self.raw_target = parts[1] if len(parts) >= 2 else b""
        self.raw_line = line
        self.request_body = b""
        self.arrived = now_ms()
        self.raw_requestline = HIGH_BYTE.sub(lambda m: b"%%%02X" % m.group()[0], line)
        recorder = RecordingReader(self.rfile)
        self.rfile = recorder
        try:
            return super().parse_request()
        finally:
            self.rfile = recorder.stream
            self.raw_headers = b"".join(recorder.lines)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.request_body = self.rfile.read(length) if length > 0 else b""
        self.do_GET()

    def do_GET(self):
        if self.raw_target.startswith(b"/_log?"):
            return self.answer_log()
        target = self.raw_target.split(b"?", 1)
        path = urllib.parse.unquote(target[0].decode("latin-1"), encoding="latin-1")
        query = target[1] if len(target) > 1 else b""
        parts = path.lstrip("/").split("/", 1)
        site = self.sites.get(parts[0])
        local = "/" + (parts[1] if len(parts) > 1 else "")
        if site is None:
            return self.answer(404, [], b"no such site")
        route = site.routes.get(local)
        if route is None:
            name = local.lstrip("/") + ("index.html" if local.endswith("/") else "")
            body = None
            if query:
                body = site.read(name + "@" + query.decode("latin-1"))
            if body is None:
                body = site.read(name)
            if body is None:
                return self.answer(404, [], b"not found")
            return self.answer(200, [("Content-Type", self.guess_type(name))], body)
        return self.serve_route(site, route, query)

    def answer_log(self):
        prefix = query_value(self.raw_target.split(b"?", 1)[1], b"prefix") or b""
        with self.lock:
            entries = sorted(entry for entry in self.log if entry[3].startswith(prefix))
        lines = [b"%.3f %.3f %s %s\n" % (a, b, m.encode("ascii"), t) for a, b, m, t in entries]
        self.answer(200, [("Content-Type", "text/plain")], b"".join(lines), logged=False)

    def guess_type(self, name):
        kind = mimetypes.guess_type(name)[0]
        return kind or "application/octet-stream"

    def route_body(self, site, route, query):
        if route.get("behaviour") == "echo":
            return self.raw_target
        if route.get("behaviour") == "echo-request":
            return self.raw_line + self.raw_headers + self.request_body
        name = route.get("file")
        if "query" in route:
            name = self.pick_answer(route["query"], query)
        if name is not None:
            body = site.read(name)
            if body is None:
                return None
        else:
            body = route.get("body", "").encode("utf-8")
        return compress(body * route.get("repeat", 1), route.get("encoding"))

    def pick_answer(self, rule, query):
        wanted = rule.get("param", "q").encode("ascii")
        for pair in query.split(b"&"):
            name, _, value = pair.partition(b"=")
            if name == wanted:
                raw = urllib.parse.unquote_to_bytes(value.replace(b"+", b" "))
                text = raw.decode(rule.get("charset", "utf-8"), errors="replace")
                return rule.get("answers", {}).get(text, rule.get("otherwise"))
        return rule.get("otherwise")

    def serve_route(self, site, route, query):
        if "sequence" in route:
            with self.lock:
                seen = self.counts.get(self.raw_target, 0)
                self.counts[self.raw_target] = seen + 1
            steps = route["sequence"]
            route = steps[min(seen, len(steps) - 1)]
        time.sleep(route.get("delay_ms", 0) / 1000.0)
        if "needs_cookie" in route and not self.carries_cookie(route["needs_cookie"]):
            refusal = site.read(route["refused_file"]) if "refused_file" in route else None
            return self.answer(route.get("refused_status", 403),
                               [("Content-Type", "text/html")], refusal or REFUSAL_PAGE)
        body = self.route_body(site, route, query)
        if body is None:
            return self.answer(404, [], b"fixture missing")
        headers = route.get("headers", {})
        if isinstance(headers, dict):
            headers = headers.items()
        headers = [tuple(pair) for pair in headers]
        if not any(name.lower() == "content-type" for name, _ in headers):
            headers.append(("Content-Type", "text/html"))
        status = route.get("status", 200)
        behaviour = route.get("behaviour")
        if behaviour == "redirect":
            status = int(query_value(query, b"status") or route.get("status", 302))
            target = query_value(query, b"to") or b""
            headers.append(("Location", target.decode("latin-1")))
        if behaviour == "stall":
            self.send_head(status, headers, len(body))
            self.send_part(body[: len(body) // 2])
            time.sleep(route.get("hold_ms", 30000) / 1000.0)
        elif behaviour == "cut":
            self.send_head(status, headers, len(body))
            self.send_part(body[: len(body) // 2])
        elif behaviour == "trickle":
            self.trickle(status, headers, body, route)
        elif behaviour == "chunked":
            self.chunked(status, headers, body, route.get("endless", False))
        else:
            self.answer(status, headers, body)
        self.close_connection = True

    def carries_cookie(self, wanted):
        for line in self.headers.get_all("Cookie") or []:
            if wanted in (pair.strip() for pair in line.split(";")):
                return True
        return False

    def trickle(self, status, headers, body, route):
        pieces = max(1, route.get("pieces", 4))
        size = (len(body) + pieces - 1) // pieces
        self.send_head(status, headers, len(body))
        for start in range(0, len(body), size):
            time.sleep(route.get("interval_ms", 100) / 1000.0)
            self.send_part(body[start : start + size])

    def chunked(self, status, headers, body, endless):
        entry = (self.arrived, now_ms(), self.command, self.raw_target)
        with self.lock:
            self.log.append(entry)
        self.protocol_version = "HTTP/1.1"
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        # Pieces of at least 64 KiB keep an endless body fast enough to reach a page limit soon.
        piece = body * max(1, 65536 // max(1, len(body)))
        chunk = b"%x\r\n%s\r\n" % (len(piece), piece)
        try:
            self.wfile.write(b"%x\r\n%s\r\n" % (len(body), body) if body else b"")
            while endless and piece:
                self.wfile.write(chunk)
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def send_head(self, status, headers, length, logged=True):
        if logged:
            entry = (self.arrived, now_ms(), self.command, self.raw_target)
            with self.lock:
                self.log.append(entry)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(length))
        self.end_headers()

    def send_part(self, data):
        try:
            self.wfile.write(data)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def answer(self, status, headers, body, logged=True):
        self.send_head(status, headers, len(body), logged)
        self.send_part(body)


def main():
    root = sys.argv[1]
    for name in sorted(os.listdir(root)):
        folder = os.path.join(root, name)
        if os.path.isdir(folder):
            Handler.sites[name] = Site(folder)
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
