#!/usr/bin/env python3
"""Velunor's demo novel site: a few short novels to try Velunor without the internet.

Serves demo/site/<site>/ on http://127.0.0.1:PORT/<site>/ (PORT 8808 unless given):

  shuku       two novels in GB2312; the second chapter of 春江夜话 holds an image,
              its third chapter always fails (404), so the reload link can be tried
  shuku-utf8  one novel in UTF-8 with characters that GB2312 lacks

/<site>/search.php?q=KEY answers an exact title with a 302 to the novel's page
and anything else with a list of the novels whose title or author holds KEY
(the key may come as GBK or UTF-8, raw or percent-encoded).

Usage: demo_site.py [PORT]. Stops with Ctrl-C.
"""

import html
import os
import sys
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site")

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
        site, _, local = path.lstrip("/").partition("/")
        if site not in CATALOGUE:
            return self.answer(404, b"no such site")
        if local == "search.php":
            return self.search(site, query)
        folder = os.path.realpath(os.path.join(ROOT, site))
        file = os.path.realpath(os.path.join(folder, local))
        if not file.startswith(folder + os.sep) or not os.path.isfile(file):
            return self.answer(404, b"not found")
        with open(file, "rb") as stream:
            kind = "image/png" if file.endswith(".png") else "text/html"
            self.answer(200, stream.read(), kind)

    def search(self, site, query):
        charset, novels = CATALOGUE[site]
        key = ""
        for pair in query.split(b"&"):
            name, _, value = pair.partition(b"=")
            if name == b"q":
                key = decode_key(value)
        for title, _, _, page in novels:
            if title == key:
                return self.answer(302, b"", headers=[("Location", page)])
        hits = [n for n in novels if key and (key in n[0] or key in n[1])]
        self.answer(200, result_page(charset, hits))

    def answer(self, status, body, kind="text/html", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 8808
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    print("Velunor demo site on http://127.0.0.1:%d/shuku/ and /shuku-utf8/ (Ctrl-C stops)" % port,
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
