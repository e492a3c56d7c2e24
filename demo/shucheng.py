"""演示书城: the demo site that only a browser can read, for Rule/04-demo-shucheng.xml.

Built like the novel sites that guard themselves with a script challenge. Its novels are the
text files in demo/site/shucheng/ (one per novel, named after its address, in the format of
demo/site/shuge/). Pages are UTF-8.

  /shucheng/                       home page with the search form; its button calls the page's
                                   doSearch(), which signs the key with a number the page holds
                                   and goes to the result list: only the page's script can search
  /shucheng/search/?q=KEY&t=&sign= the result list when the signature fits, else a refusal
  /shucheng/book/7hKq2/            information and contents page in one (no challenge)
  /shucheng/book/7hKq2/c101.html   a chapter: answered with a challenge page ("正在检查您的
                                   浏览器") until the request carries the cookie
                                   sc_clearance its script computes; the script sets it and
                                   reloads, so a browser passes and a plain client never does;
                                   the cookie then opens every chapter for an hour

A request without a browser's User-Agent ("Mozilla/...") answers 403.
"""

import html
import os
import random
import sys
import urllib.parse

sys.dont_write_bytecode = True
import shuge  # noqa: E402  (the novel files share its format)

PREFIX = "/shucheng/"
SITE_NAME = "演示书城"
CHARSET = "utf-8"
FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site", "shucheng")
CLEARANCE_COOKIE = "sc_clearance"

# Drawn at each start, so that the challenge's answer cannot be written into a rule.
CHALLENGE_PARTS = [random.randrange(1000, 99999) for _ in range(4)]
SEARCH_NONCE = "%08x" % random.getrandbits(32)


def load_novels():
    names = sorted(name for name in os.listdir(FOLDER) if name.endswith(".txt"))
    return [shuge.load_novel(os.path.join(FOLDER, name)) for name in names]


NOVELS = load_novels()


def clearance():
    """What the challenge script computes from its parts."""
    value = 0
    for part in CHALLENGE_PARTS:
        value = (value * 131 + part) % 1000003
    return str(value)


def sign(text):
    """The page script's signature of a search: a hash over the UTF-16 code units, as
    JavaScript's charCodeAt sees them."""
    units = text.encode("utf-16-le")
    value = 7
    for i in range(0, len(units), 2):
        value = (value * 31 + int.from_bytes(units[i:i + 2], "little")) & 0xFFFFFFFF
    return "%x" % value


def novel_path(novel):
    return "%sbook/%s/" % (PREFIX, novel.address)


# --- pages ------------------------------------------------------------------------------------

def page(title, body, script=""):
    return (
        '<!DOCTYPE html>\n<html lang="zh-CN">\n<head>\n<meta charset="utf-8">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        '<title>%s</title>\n<link rel="stylesheet" href="/shucheng/static/site.css">\n'
        '<script src="/shucheng/static/ad.js"></script>\n%s</head>\n<body>\n'
        '<div class="top"><a class="logo" href="/shucheng/">%s</a>\n'
        '<span class="links"><a href="#">排行</a> <a href="#">完本</a> <a href="#">书架</a>'
        '</span></div>\n'
        '<div class="ad"><script>showAd("banner");</script></div>\n'
        '%s\n'
        '<div class="ad"><script>showAd("footer");</script></div>\n'
        '<div class="footer">本站小说均来自网友上传，仅供试读。&copy; 2024 %s</div>\n'
        '</body>\n</html>\n' % (html.escape(title), script, SITE_NAME, body, SITE_NAME))


SEARCH_SCRIPT = (
    '<script>\nvar SEARCH_NONCE = "%s";\n'
    'function sign(s) { var h = 7; for (var i = 0; i < s.length; i++) '
    '{ h = (h * 31 + s.charCodeAt(i)) >>> 0; } return h.toString(16); }\n'
    'function doSearch() {\n'
    '  var k = document.getElementById("searchkey").value.trim();\n'
    '  if (!k) { return false; }\n'
    '  location.href = "/shucheng/search/?q=" + encodeURIComponent(k) + "&t=" + SEARCH_NONCE'
    ' + "&sign=" + sign(k + SEARCH_NONCE);\n'
    '  return false;\n}\n</script>\n')


def search_box():
    return ('<form id="searchform" action="javascript:void(0)" onsubmit="return doSearch();">'
            '<input type="text" id="searchkey" placeholder="书名或作者">'
            '<button type="submit">搜索</button></form>')


def home_page():
    rows = "".join('<li><a href="%s">%s</a> <span>%s</span></li>\n'
                   % (novel_path(n), html.escape(n.title), html.escape(n.author))
                   for n in NOVELS)
    return page("%s_免费小说阅读" % SITE_NAME,
                '%s\n<div class="box"><h2>最近更新</h2>\n<ul>\n%s</ul></div>' % (search_box(), rows),
                SEARCH_SCRIPT % SEARCH_NONCE)


def result_page(hits):
    rows = "".join(
        '<li><h3><a href="%s">%s</a></h3><span class="author">%s</span>'
        '<span class="latest">%s</span></li>\n'
        % (novel_path(n), html.escape(n.title), html.escape(n.author),
           html.escape(n.chapters[-1].name))
        for n in hits)
    if not hits:
        rows = '<li class="none">没有找到相关小说</li>\n'
    return page("搜索结果_%s" % SITE_NAME,
                '%s\n<div class="box"><h2>搜索结果</h2>\n<ul class="result-list">\n%s</ul></div>'
                % (search_box(), rows), SEARCH_SCRIPT % SEARCH_NONCE)


def novel_page(novel):
    items = "".join('<li><a href="%s.html">%s</a></li>\n' % (c.address, html.escape(c.name))
                    for c in novel.chapters)
    return page(
        "%s_%s_%s" % (novel.title, novel.author, SITE_NAME),
        '<div class="info"><h1>%s</h1>\n<p class="author">作者：%s</p>\n'
        '<p class="state">%s · %s</p>\n<div class="intro">%s</div></div>\n'
        '<div class="ad"><script>showAd("list");</script></div>\n'
        '<div class="catalog"><h2>章节目录</h2>\n<ul class="chapters">\n%s</ul></div>'
        % (html.escape(novel.title), html.escape(novel.author), html.escape(novel.category),
           html.escape(novel.state), html.escape(novel.intro), items))


def chapter_page(novel, index):
    chapter = novel.chapters[index]
    text = "".join("<p>%s</p>\n" % html.escape(line) for part in chapter.pages for line in part)
    previous = novel.chapters[index - 1].address + ".html" if index > 0 else "./"
    following = (novel.chapters[index + 1].address + ".html"
                 if index + 1 < len(novel.chapters) else "./")
    return page(
        "%s_%s_%s" % (chapter.name, novel.title, SITE_NAME),
        '<div class="reader"><h1>%s</h1>\n'
        '<div class="ad"><script>showAd("text-top");</script></div>\n'
        '<div id="chaptercontent">\n%s</div>\n'
        '<div class="pager"><a href="%s">上一章</a> <a href="./">目录</a> '
        '<a href="%s">下一章</a></div></div>'
        % (html.escape(chapter.name), text, previous, following))


def challenge_page():
    # What such sites send: almost no text, a script that computes a cookie and reloads, and a
    # second script that does nothing.
    parts = ",".join(str(part) for part in CHALLENGE_PARTS)
    return (
        '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>安全检查</title></head>\n'
        '<body><p>正在检查您的浏览器，请稍候……</p>\n'
        '<script>(function(){var p=[%s],v=0;for(var i=0;i<p.length;i++){v=(v*131+p[i])%%1000003;}'
        'document.cookie="%s="+v+"; path=/shucheng/; max-age=3600";'
        'setTimeout(function(){location.reload();},200);})();</script>\n'
        '<script>var u=2;for(;u==1;u++);</script>\n</body></html>\n' % (parts, CLEARANCE_COOKIE))


def message_page(message):
    return page("提示_%s" % SITE_NAME, '<div class="box"><p class="message">%s</p></div>' % message)


# --- requests ---------------------------------------------------------------------------------

def owns(path):
    """True for addresses of this site."""
    return path.startswith(PREFIX) or path == PREFIX[:-1]


def has_clearance(headers):
    for cookie in headers.get("Cookie", "").split(";"):
        name, _, value = cookie.strip().partition("=")
        if name == CLEARANCE_COOKIE and value == clearance():
            return True
    return False


def query_values(query):
    values = {}
    for pair in query.split(b"&"):
        name, _, value = pair.partition(b"=")
        values[name.decode("latin-1")] = urllib.parse.unquote_to_bytes(
            value.replace(b"+", b" ")).decode("utf-8", "replace")
    return values


def search(query):
    values = query_values(query)
    key = values.get("q", "").strip()
    if values.get("t") != SEARCH_NONCE or values.get("sign") != sign(key + SEARCH_NONCE):
        return 403, message_page("搜索请求无效，请从本站首页搜索。")
    return 200, result_page([n for n in NOVELS if key and (key in n.title or key in n.author)])


def book(path, headers):
    parts = path[len(PREFIX):].split("/")
    if len(parts) != 3 or parts[0] != "book":
        return 404, message_page("页面不存在")
    novel = next((n for n in NOVELS if n.address == parts[1]), None)
    if novel is None:
        return 404, message_page("页面不存在")
    if parts[2] == "":
        return 200, novel_page(novel)
    index = next((i for i, c in enumerate(novel.chapters) if c.address + ".html" == parts[2]),
                 None)
    if index is None:
        return 404, message_page("页面不存在")
    if not has_clearance(headers):
        return 503, challenge_page()
    return 200, chapter_page(novel, index)


def respond(method, target, headers, body):
    """Answers one request: (status, headers, body bytes)."""
    raw_path, _, query = target.partition(b"?")
    path = urllib.parse.unquote(raw_path.decode("latin-1"))
    if "Mozilla/" not in headers.get("User-Agent", ""):
        status, text = 403, message_page("403 Forbidden")
    elif method != "GET":
        status, text = 405, message_page("不支持的请求")
    elif path in (PREFIX, PREFIX[:-1]):
        status, text = 200, home_page()
    elif path == PREFIX + "search/":
        status, text = search(query)
    elif path.startswith(PREFIX + "static/"):
        status, text = 200, ""
    else:
        status, text = book(path, headers)
    extra = [("Server", "nginx")]
    return status, extra, text.encode(CHARSET)
