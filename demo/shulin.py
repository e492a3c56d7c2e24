"""演示书林: a demo GBK novel site without a search of its own, for Rule/03-demo-shulin.xml.

Like many small sites, it hands searching to a site-search engine on another host, and that
engine answers in UTF-8 while the site's own pages are GBK. The site is served on 127.0.0.1:PORT,
the engine on localhost:PORT (the same server, told apart by the Host header):

  /shulin/                          home page; its search form sends q=KEY (UTF-8, as the
                                    engine's own pages would) to the engine
  /shulin/book/<id>.html            a novel's information page, linking to its contents
  /shulin/<id>/                     the contents page, a "最新章节" block above the full list
  /shulin/<id>/<n>.html             a chapter, with advertisement slots inside the text
  localhost:PORT/shulin-so/cse/search?s=shulin&q=KEY
                                    the engine's result page: UTF-8, declared in its
                                    Content-Type header and in its meta; a key that is not
                                    UTF-8 finds nothing, as on a real engine. Hits link back
                                    to the site's information pages on 127.0.0.1:PORT.

The engine answers 404 on any other host name, and the site's pages declare GBK only in their
meta (the server's header names no charset).
"""

import html
import urllib.parse

PREFIX = "/shulin/"
ENGINE_PREFIX = "/shulin-so/"
ENGINE_HOST = "localhost"
SITE_NAME = "演示书林"
SITE_ID = "shulin"


class Novel:
    def __init__(self, book_id, title, author, category, state, intro, chapters):
        self.book_id = book_id
        self.title = title
        self.author = author
        self.category = category
        self.state = state
        self.intro = intro
        # (chapter name, paragraphs)
        self.chapters = chapters


NOVELS = [
    Novel("40217", "夜渡青溪", "温喆", "古代言情", "连载中",
          "青溪镇的渡口只在夜里开船。摆渡的哑女阿蘅记得每一位客人的来处，却从不问去处。"
          "直到那一夜，一个浑身湿透的书生把一枚铜钱放进她的掌心。", [
              ("第一章 夜渡", [
                  "青溪镇的渡口在镇子最西头，白天没有人，夜里才挂起一盏风灯。",
                  "阿蘅把船撑到岸边的时候，雨刚停，石阶上积着一汪一汪的水。",
                  "书生站在灯下，衣摆还在往下滴水。他问：“姑娘，这船去哪里？”",
                  "阿蘅指了指对岸的雾，没有出声。",
              ]),
              ("第二章 铜钱", [
                  "船到河心，书生把一枚铜钱放进她手里。铜钱很旧，边上磨得发亮。",
                  "“这是渡资，”他说，“也是信物。三年后我回来，你还认得它。”",
                  "阿蘅低头看那铜钱，背面刻着一个小小的“喆”字。",
              ]),
              ("第三章 雾散", [
                  "对岸的雾在天亮前散了。书生上了岸，回头作了一揖，走进芦苇里。",
                  "阿蘅把铜钱穿上红绳，挂在船头的风灯下。",
                  "从那以后，青溪镇的人都说，夜渡的船头多了一点亮光。",
              ]),
          ]),
    Novel("40388", "纸鸢与灯", "温喆", "都市言情", "已完结",
          "她在老城区开了一家修灯的小铺，他每个周末来放一只纸鸢。", [
              ("第一章 修灯铺", [
                  "老城区的巷子很窄，修灯铺的招牌却很亮。",
                  "林小满把最后一盏台灯修好，抬头看见窗外飘过一只燕子形的纸鸢。",
              ]),
              ("第二章 断线", [
                  "那只纸鸢在周日傍晚断了线，挂在修灯铺门口的电线上。",
                  "放纸鸢的人跑过来，喘着气说：“能借个梯子吗？”",
              ]),
          ]),
]


def find_novel(book_id):
    return next((n for n in NOVELS if n.book_id == book_id), None)


def escaped(text):
    return html.escape(text, quote=True)


# --- the site's pages (GBK) -------------------------------------------------------------------

def site_head(title, extra=""):
    return (
        '<!doctype html>\n<html>\n<head>\n'
        '<meta http-equiv="Content-Type" content="text/html; charset=gbk" />\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1.0" />\n'
        '<title>%s</title>\n%s'
        '<link rel="stylesheet" href="/shulin/static/css/main.css" />\n'
        '<script src="/shulin/static/js/jquery.min.js"></script>\n'
        '<script src="/shulin/static/js/ads.js"></script>\n'
        '</head>\n' % (escaped(title), extra))


def site_header(host):
    engine = "http://%s%scse/search" % (engine_host(host), ENGINE_PREFIX)
    return (
        '<body>\n<div class="topbar"><div class="wrap">欢迎来到%s，请记住本站域名！'
        '<span class="fr"><a href="javascript:addBookmark();">收藏本站</a></span></div></div>\n'
        '<div class="header"><div class="wrap">\n'
        '<div class="logo"><a href="/shulin/" title="%s">%s</a></div>\n'
        '<div class="search"><form action="%s" method="get" target="_blank">\n'
        '<input type="hidden" name="s" value="%s" />\n'
        '<input type="text" name="q" class="text" placeholder="输入书名或作者，支持模糊搜索" />\n'
        '<button type="submit" class="btn">站内搜索</button>\n'
        '</form></div>\n</div></div>\n'
        '<div class="menu"><div class="wrap"><ul>\n'
        '<li><a href="/shulin/">首页</a></li><li><a href="#">玄幻奇幻</a></li>'
        '<li><a href="#">武侠仙侠</a></li><li><a href="#">都市言情</a></li>'
        '<li><a href="#">历史军事</a></li><li><a href="#">排行榜</a></li>'
        '<li><a href="#">全本小说</a></li><li><a href="#">阅读记录</a></li>\n'
        '</ul></div></div>\n'
        '<div class="ad_top"><script>ads_top();</script></div>\n'
        % (SITE_NAME, SITE_NAME, SITE_NAME, engine, SITE_ID))


def site_footer():
    return (
        '<div class="ad_bottom"><script>ads_bottom();</script></div>\n'
        '<div class="footer"><div class="wrap">\n'
        '<p>本站所有小说均来自网友上传，如有侵权请联系删除。</p>\n'
        '<p>Copyright &copy; %s 2025</p>\n</div></div>\n'
        '<script>var _tj = _tj || []; _tj.push(["site", "%s"]);</script>\n'
        '<script src="/shulin/static/js/tj.js"></script>\n'
        '</body>\n</html>\n' % (SITE_NAME, SITE_ID))


def info_path(novel):
    return "%sbook/%s.html" % (PREFIX, novel.book_id)


def contents_path(novel):
    return "%s%s/" % (PREFIX, novel.book_id)


def chapter_path(novel, number):
    return "%s%d.html" % (contents_path(novel), number)


def home_page(host):
    items = "".join(
        '<li><span class="s1">[%s]</span><span class="s2"><a href="%s">%s</a></span>'
        '<span class="s3"><a href="%s">%s</a></span><span class="s4">%s</span></li>\n'
        % (n.category, info_path(n), n.title, chapter_path(n, len(n.chapters)),
           n.chapters[-1][0], n.author) for n in NOVELS)
    return (site_head("%s_好看的小说_无弹窗阅读" % SITE_NAME) + site_header(host)
            + '<div class="wrap"><div class="box"><h2>最近更新</h2>\n<ul class="update">\n%s'
              '</ul></div></div>\n' % items
            + site_footer())


def info_page(novel, host):
    last = len(novel.chapters)
    meta = (
        '<meta name="keywords" content="%(t)s,%(t)s最新章节,%(a)s" />\n'
        '<meta property="og:type" content="novel" />\n'
        '<meta property="og:novel:book_name" content="%(t)s" />\n'
        '<meta property="og:novel:author" content="%(a)s" />\n'
        '<meta property="og:novel:category" content="%(c)s" />\n'
        '<meta property="og:novel:status" content="%(s)s" />\n'
        % dict(t=novel.title, a=novel.author, c=novel.category, s=novel.state))
    return (site_head("%s_%s_%s" % (novel.title, novel.author, SITE_NAME), meta)
            + site_header(host)
            + '<div class="wrap">\n<div class="path"><a href="/shulin/">%s</a> &gt; %s &gt; %s</div>\n'
              '<div class="book">\n<div class="cover"><img src="/shulin/static/cover/%s.jpg" '
              'alt="%s" /></div>\n'
              '<div class="info">\n<h1>%s</h1>\n'
              '<div class="small">\n<span>作者：%s</span>\n<span>分类：%s</span>\n'
              '<span>状态：%s</span>\n'
              '<span class="last">最新：<a href="%s">%s</a></span>\n</div>\n'
              '<div class="intro"><dl><dt>简介：</dt><dd>%s</dd></dl></div>\n'
              '<div class="link"><a class="read" href="%s">开始阅读</a>'
              '<a href="javascript:addBookCase(%s);">加入书架</a></div>\n'
              '</div>\n</div>\n<div class="ad_info"><script>ads_info();</script></div>\n</div>\n'
              % (SITE_NAME, novel.category, novel.title, novel.book_id, novel.title, novel.title,
                 novel.author, novel.category, novel.state, chapter_path(novel, last),
                 novel.chapters[-1][0], novel.intro, contents_path(novel), novel.book_id)
            + site_footer())


def contents_page(novel, host):
    def items(numbers):
        return "".join('<dd><a href="%s">%s</a></dd>\n'
                       % (chapter_path(novel, n), novel.chapters[n - 1][0]) for n in numbers)
    count = len(novel.chapters)
    latest = range(count, max(count - 2, 0), -1)
    return (site_head("%s最新章节目录_%s" % (novel.title, SITE_NAME)) + site_header(host)
            + '<div class="wrap">\n<div class="path"><a href="/shulin/">%s</a> &gt; '
              '<a href="%s">%s</a> &gt; 章节目录</div>\n'
              '<div class="listmain">\n<dl>\n<dt>《%s》最新章节</dt>\n%s'
              '<dt>《%s》正文卷</dt>\n%s</dl>\n</div>\n</div>\n'
              % (SITE_NAME, info_path(novel), novel.title, novel.title, items(latest),
                 novel.title, items(range(1, count + 1)))
            + site_footer())


def chapter_page(novel, number, host):
    name, paragraphs = novel.chapters[number - 1]
    previous = chapter_path(novel, number - 1) if number > 1 else contents_path(novel)
    following = (chapter_path(novel, number + 1) if number < len(novel.chapters)
                 else contents_path(novel))
    lines = ["&nbsp;&nbsp;&nbsp;&nbsp;%s<br /><br />" % p for p in paragraphs]
    # Sites slip an advertisement slot into the middle of the text.
    lines.insert(len(lines) // 2, '<div class="ad_content"><script>ads_content();</script></div>')
    nav = ('<div class="page_chapter"><a href="%s">上一章</a> | <a href="%s">目录</a> | '
           '<a href="%s">下一章</a></div>\n' % (previous, contents_path(novel), following))
    return (site_head("%s_%s_%s" % (name, novel.title, SITE_NAME)) + site_header(host)
            + '<div class="wrap book reader">\n<div class="path"><a href="/shulin/">%s</a> &gt; '
              '<a href="%s">%s</a> &gt; %s</div>\n<h1 class="wap_none">%s</h1>\n%s'
              '<div id="chaptercontent" class="Readarea">\n%s\n'
              '<p class="readinline"><a href="javascript:report();">章节报错</a></p>\n'
              '</div>\n%s</div>\n'
              % (SITE_NAME, contents_path(novel), novel.title, name, name, nav, "\n".join(lines),
                 nav)
            + site_footer())


def not_found_page(host):
    return (site_head("404_%s" % SITE_NAME) + site_header(host)
            + '<div class="wrap"><div class="box"><h2>出错了</h2>'
              '<p>您要找的页面不存在，<a href="/shulin/">返回首页</a></p></div></div>\n'
            + site_footer())


def site_page(path, host):
    """(status, page text) for an address of the site."""
    local = path[len(PREFIX):]
    if local == "":
        return 200, home_page(host)
    parts = local.split("/")
    if len(parts) == 2 and parts[0] == "book" and parts[1].endswith(".html"):
        novel = find_novel(parts[1][:-len(".html")])
        if novel is not None:
            return 200, info_page(novel, host)
    elif len(parts) == 2:
        novel = find_novel(parts[0])
        if novel is not None and parts[1] == "":
            return 200, contents_page(novel, host)
        number = parts[1][:-len(".html")] if parts[1].endswith(".html") else ""
        if novel is not None and number.isdigit() and 1 <= int(number) <= len(novel.chapters):
            return 200, chapter_page(novel, int(number), host)
    return 404, not_found_page(host)


# --- the search engine on the other host (UTF-8) ----------------------------------------------

def engine_host(host):
    """The engine's host name with the port of the site's `host` ("127.0.0.1:8808")."""
    port = host.rpartition(":")[2] if ":" in host else "80"
    return "%s:%s" % (ENGINE_HOST, port)


def site_host(host):
    """The site's host name with the port the engine was asked on."""
    port = host.rpartition(":")[2] if ":" in host else "80"
    return "127.0.0.1:%s" % port


def query_key(query):
    """The q parameter read as UTF-8, as the engine's own form sends it; None when it is not
    UTF-8."""
    for pair in query.split(b"&"):
        name, _, value = pair.partition(b"=")
        if name == b"q":
            try:
                return urllib.parse.unquote_to_bytes(value.replace(b"+", b" ")).decode("utf-8")
            except UnicodeDecodeError:
                return None
    return ""


def highlighted(text, key):
    if not key:
        return escaped(text)
    return escaped(text).replace(escaped(key), "<em>%s</em>" % escaped(key))


def engine_hit(novel, key, host):
    base = "http://%s" % site_host(host)
    last = len(novel.chapters)
    return (
        '<div class="result-item result-game-item">\n'
        '<div class="result-game-item-pic"><a cpos="img" href="%(info)s" target="_blank">'
        '<img src="%(base)s/shulin/static/cover/%(id)s.jpg" alt="%(title)s" /></a></div>\n'
        '<div class="result-game-item-detail">\n'
        '<h3 class="result-item-title result-game-item-title"><a cpos="title" href="%(info)s" '
        'title="%(title)s" class="result-game-item-title-link" target="_blank">'
        '<span>%(shown)s</span></a></h3>\n'
        '<p class="result-game-item-desc">%(intro)s</p>\n'
        '<div class="result-game-item-info">\n'
        '<p class="result-game-item-info-tag"><span>作者：</span><span>%(author)s</span></p>\n'
        '<p class="result-game-item-info-tag"><span>类型：</span><span>%(category)s</span></p>\n'
        '<p class="result-game-item-info-tag"><span>最新章节：</span>'
        '<a cpos="newchapter" href="%(latest_url)s" class="result-game-item-info-tag-item" '
        'target="_blank">%(latest)s</a></p>\n'
        '</div>\n</div>\n</div>\n'
        % dict(info=base + info_path(novel), base=base, id=novel.book_id, title=novel.title,
               shown=highlighted(novel.title, key), intro=highlighted(novel.intro, key),
               author=escaped(novel.author), category=novel.category,
               latest_url=base + chapter_path(novel, last), latest=novel.chapters[-1][0]))


def engine_page(key, host):
    hits = [n for n in NOVELS if key and (key in n.title or key in n.author)]
    if key is None:
        summary = '<p class="result-none">搜索词有误，请重新输入。</p>\n'
    elif not hits:
        summary = '<p class="result-none">抱歉，没有找到与“%s”相关的结果。</p>\n' % escaped(key)
    else:
        summary = '<p class="search-result-num">为您找到相关结果约%d个</p>\n' % len(hits)
    return (
        '<!DOCTYPE html>\n<html>\n<head>\n<meta charset="utf-8" />\n'
        '<title>%s - %s站内搜索</title>\n'
        '<link rel="stylesheet" href="/shulin-so/static/cse.css" />\n'
        '<script src="/shulin-so/static/cse.js"></script>\n</head>\n<body>\n'
        '<div id="header"><form action="/shulin-so/cse/search" method="get">'
        '<input type="hidden" name="s" value="%s" />'
        '<input type="text" name="q" value="%s" /><input type="submit" value="搜索" />'
        '</form></div>\n'
        '<div id="container">\n%s<div class="result-list">\n%s</div>\n'
        '<div class="search-result-page"><span class="pager-current">1</span></div>\n'
        '<div class="ad-right"><script>cse_ads();</script></div>\n</div>\n'
        '<div id="footer">站内搜索服务 &copy; 2025</div>\n</body>\n</html>\n'
        % (escaped(key or ""), SITE_NAME, SITE_ID, escaped(key or ""), summary,
           "".join(engine_hit(n, key, host) for n in hits)))


def engine_answer(path, query, host):
    """(status, page text) of the engine."""
    if path != ENGINE_PREFIX + "cse/search":
        return 404, "<html><body><h1>404 Not Found</h1></body></html>\n"
    return 200, engine_page(query_key(query), host)


# --- serving ----------------------------------------------------------------------------------

def owns(path):
    """True for addresses of the site and of its search engine."""
    return path.startswith(PREFIX) or path.startswith(ENGINE_PREFIX) or path == PREFIX[:-1]


def respond(target, headers):
    """Answers one GET: (status, headers, body bytes, content type)."""
    raw_path, _, query = target.partition(b"?")
    path = urllib.parse.unquote(raw_path.decode("latin-1"))
    host = headers.get("Host", "127.0.0.1:8808")
    on_engine_host = host.partition(":")[0] == ENGINE_HOST
    if path.startswith(ENGINE_PREFIX):
        if not on_engine_host:
            return 404, [], b"no such site", "text/html"
        status, page = engine_answer(path, query, host)
        return status, [], page.encode("utf-8"), "text/html; charset=utf-8"
    if path == PREFIX[:-1]:
        return 301, [("Location", PREFIX)], b"", "text/html"
    status, page = site_page(path, host)
    # The site's server names no charset; its pages say GBK in their meta.
    return status, [], page.encode("gbk"), "text/html"
