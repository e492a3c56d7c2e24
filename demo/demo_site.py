#!/usr/bin/env python3
"""Velunor's demo novel site: a few short novels to try Velunor without the internet.

Serves demo/site/<site>/ on http://127.0.0.1:PORT/<site>/ (PORT 8808 unless given):

  shuku       two novels in GB2312; the second chapter of 春江夜话 holds an image,
              its third chapter always fails (404), so the reload link can be tried;
              a novel's page gives the reader a session cookie, and a chapter page
              asked for without one is refused (403) with a page saying so, as sites
              that keep readers in a session do
  shuku-utf8  one novel in UTF-8 with characters that GB2312 lacks
  shuge       演示书阁, built like a real GBK novel site: a POST search, paged contents and
              chapters, redirects, a challenge page and a flood check (see shuge.py)
  shucheng    演示书城, a site only a browser can read: chapters behind a script challenge
              that sets a cookie, a search that only the page's script can submit (see
              shucheng.py)
  shulin      演示书林, a GBK novel site whose search is a UTF-8 site-search engine on
              another host, localhost:PORT/shulin-so/ (see shulin.py)
  wenyuan     演示文苑, a GBK novel site that no rule file describes, for downloading by
              address with the page finder and drafting a rule (see wenyuan.py)

/<site>/search.php?q=KEY on the first two answers an exact title with a 302 to the
novel's page and anything else with a list of the novels whose title or author holds
KEY (the key may come as GBK or UTF-8, raw or percent-encoded).

Usage: demo_site.py [-v] [PORT]. -v prints every request with its answer's status and
the request's Referer, Accept-Language and User-Agent. Stops with Ctrl-C.
"""

import html
import os
import re
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import shucheng  # noqa: E402
import shuge  # noqa: E402
import shulin  # noqa: E402
import wenyuan  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site")
VERBOSE = False

# Per site: its page charset and its novels (title, author, latest chapter, page).
CATALOGUE = {
    "shuku": ("gbk", [
        ("春江夜话", "林泊舟", "第三章 灯下", "book/chunjiang.html"),
        ("山居小记", "苏晚晴", "第二章 听雨", "book/shanju.html"),
    ]),
    "shuku-utf8": ("utf-8", [
        ("星河渡", "顾清远", "第二章 𠮷字碑", "book/xinghe.html"),
    ]),
}


# 书库's sessions: the novel pages give out the cookie, the chapter pages ask for it.
SESSION_COOKIE = "shuku_session"
SESSIONS = set()
SESSIONS_LOCK = threading.Lock()
NOVEL_PAGE = re.compile(r"book/[a-z]+\.html")
CHAPTER_PAGE = re.compile(r"book/list/[a-z]+\d+\.html")
REFUSAL_PAGE = ('<html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312">'
                '<title>访问受限</title></head><body><h2>请从小说页面进入阅读</h2>'
                '<p>本站需要开启 Cookie 才能阅读章节。</p></body></html>\n').encode("gbk")


def session_of(headers):
    """The session the request's cookies name, when 书库 gave it out; else None."""
    for line in headers.get_all("Cookie") or []:
        for pair in line.split(";"):
            name, _, value = pair.strip().partition("=")
            with SESSIONS_LOCK:
                if name == SESSION_COOKIE and value in SESSIONS:
                    return value
    return None


def new_session():
    token = secrets.token_hex(8)
    with SESSIONS_LOCK:
        SESSIONS.add(token)
    return "%s=%s; Path=/shuku/; HttpOnly" % (SESSION_COOKIE, token)


def decode_key(raw):
    data = urllib.parse.unquote_to_bytes(raw.replace(b"+", b" "))
    for charset in ("utf-8", "gb18030"):
        try:
            return data.decode(charset)
        except UnicodeDecodeError:
            pass
    return data.decode("latin-1")


def result_page(charset, novels):
    rows = "".join(
        '<tr><td><a href="%s">%s</a></td><td>%s</td><td>%s</td></tr>\n'
        % (page, html.escape(title), html.escape(author), html.escape(latest))
        for title, author, latest, page in novels)
    text = ('<html><head><meta http-equiv="Content-Type" content="text/html; charset=%s">'
            '</head><body>\n<table class="results">\n%s</table>\n</body></html>\n' % (charset, rows))
    return text.encode(charset)


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def parse_request(self):
        # Keys may arrive as raw GBK bytes, which the standard parser would split on.
        parts = self.raw_requestline.split(b" ")
        self.raw_target = parts[1] if len(parts) >= 2 else b""
        self.raw_requestline = b"GET / HTTP/1.1\r\n" if len(parts) < 3 else b" ".join(
            [parts[0], b"/", parts[2]])
        return super().parse_request()

    def do_GET(self):
        target, _, query = self.raw_target.partition(b"?")
        path = urllib.parse.unquote(target.decode("latin-1"))
        if shuge.owns(path):
            return self.answer(*shuge.respond("GET", self.raw_target, self.headers, b""))
        if shucheng.owns(path):
            return self.answer(*shucheng.respond("GET", self.raw_target, self.headers, b""))
        if shulin.owns(path):
            return self.answer(*shulin.respond(self.raw_target, self.headers))
        if wenyuan.owns(path):
            return self.answer(*wenyuan.respond(self.raw_target))
        site, _, local = path.lstrip("/").partition("/")
        if site not in CATALOGUE:
            return self.answer(404, [], b"no such site")
        if local == "search.php":
            return self.search(site, query)
        folder = os.path.realpath(os.path.join(ROOT, site))
        file = os.path.realpath(os.path.join(folder, local))
        if not file.startswith(folder + os.sep) or not os.path.isfile(file):
            return self.answer(404, [], b"not found")
        headers = []
        if site == "shuku" and session_of(self.headers) is None:
            if CHAPTER_PAGE.fullmatch(local):
                return self.answer(403, [], REFUSAL_PAGE)
            if NOVEL_PAGE.fullmatch(local):
                headers.append(("Set-Cookie", new_session()))
        with open(file, "rb") as stream:
            kind = "image/png" if file.endswith(".png") else "text/html"
            self.answer(200, headers, stream.read(), kind)

    def do_POST(self):
        path = urllib.parse.unquote(self.raw_target.partition(b"?")[0].decode("latin-1"))
        if not shuge.owns(path):
            return self.send_error(501, "Unsupported method ('POST')")
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.answer(*shuge.respond("POST", self.raw_target, self.headers, body))

    def search(self, site, query):
        charset, novels = CATALOGUE[site]
        key = ""
        for pair in query.split(b"&"):
            name, _, value = pair.partition(b"=")
            if name == b"q":
                key = decode_key(value)
        for title, _, _, page in novels:
            if title == key:
                return self.answer(302, [("Location", page)], b"")
        hits = [n for n in novels if key and (key in n[0] or key in n[1])]
        self.answer(200, [], result_page(charset, hits))

    def answer(self, status, headers, body, kind="text/html"):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        if VERBOSE:
            self.log_answer(status)

    def log_answer(self, status):
        now = time.time()
        line = "%s.%03d %s %s -> %d" % (time.strftime("%H:%M:%S", time.localtime(now)),
                                        int(now * 1000) % 1000, self.command,
                                        self.raw_target.decode("latin-1"), status)
        for name in ("Referer", "Accept-Language", "User-Agent"):
            if self.headers.get(name):
                line += "\n    %s: %s" % (name, self.headers.get(name))
        print(line, file=sys.stderr, flush=True)


def main():
    global VERBOSE
    arguments = sys.argv[1:]
    if arguments and arguments[0] == "-v":
        VERBOSE = True
        arguments = arguments[1:]
    port = int(arguments[0]) if arguments else 8808
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    print("Velunor demo site on http://127.0.0.1:%d/shuku/, /shuku-utf8/, /shuge/, /shulin/, "
          "/shucheng/ and /wenyuan/ (Ctrl-C stops)" % port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
