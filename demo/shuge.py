"""演示书阁: the demo site built like a real GBK novel site, for Rule/02-demo-shuge.xml.

Its novels are the text files in demo/site/shuge/ (one per novel, named after the novel's
address). Pages are GBK, gzip-compressed when the client accepts it, and full of what such
sites carry: navigation bars, advertisement slots, scripts. What a rule for it has to cope with:

  /shuge/                                home page with the search form
  /shuge/modules/article/search.php      POST searchtype=all&searchkey=KEY (KEY percent-encoded
                                         GBK): a result list, or for an exact title a 303 to
                                         the novel's address on the old home (see below);
                                         a GET shows the empty search form
  /shuge/book/Xq7bPz-kM2a/               information and contents page 1 in one page
  /shuge/book/Xq7bPz-kM2a/index_2.html   contents pages 2 and 3, linked by an <option> list and
  /shuge/book/Xq7bPz-kM2a/index_3.html   a "下一页" link; the last page's "下一页" leads back
                                         to page 1; every page repeats the "最新章节" block;
                                         volume headings (<dt>) stand between the chapters:
                                         "作品相关" with no chapter, then two volumes, the first
                                         spanning pages 1 and 2; a page that starts inside a
                                         volume repeats its heading at the top
  /shuge/book/Xq7bPz-kM2a/3Fh9Qe.html    a chapter over three pages (3Fh9Qe_2.html,
                                         3Fh9Qe_3.html); the "下一页" link of a chapter's last
                                         page leads to the next chapter, of the last chapter's
                                         last page to the contents
  /shuge/book/Xq7bPz-kM2a/Pq93Lm.html    answered with a challenge page whose script
                                         redirects to ?kabcja=... (and a second script
                                         that does nothing); asked again within 30 s it
                                         answers the chapter (so every other request passes);
                                         the ?kabcja= address answers the chapter
  /shuge/book/Tn4cRw-Ye8d/               a second novel by the same author: one contents
                                         page, whose "下一页" leads to itself
  /shuge-old/...                         the site's old home, still named by the rule's
                                         SiteUrl: a 301 to the same address under /shuge/

Addresses are case-sensitive: /shuge/book/xq7bpz-km2a/ answers 404. A request without a
browser's User-Agent ("Mozilla/...") answers 403. More than 12 requests to the site within
one second are answered with a "您的访问过于频繁" page (status 200), as sites do to
downloaders that do not pace themselves.
"""

import gzip
import html
import os
import re
import threading
import time
import urllib.parse
from collections import deque

PREFIX = "/shuge/"
OLD_PREFIX = "/shuge-old/"
SITE_NAME = "演示书阁"
CHARSET = "gbk"
FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site", "shuge")

CHAPTERS_PER_CONTENTS_PAGE = 3
LATEST_CHAPTER_COUNT = 4
CHALLENGED_CHAPTER = ("Xq7bPz-kM2a", "Pq93Lm")
CHALLENGE_MEMORY_SECONDS = 30.0
RATE_WINDOW_SECONDS = 1.0
RATE_LIMIT = 12


class Chapter:
    def __init__(self, name, address):
        self.name = name
        self.address = address
        self.pages = [[]]


class Novel:
    """A novel's address, its "键：值" fields as attributes (title, author, ...), chapters and
    volume headings as (number of chapters before it, name)."""

    def __init__(self, address, fields, chapters, volumes):
        self.address = address
        self.fields = fields
        self.chapters = chapters
        self.volumes = volumes
        for name, value in fields.items():
            setattr(self, name, value)


FIELD_NAMES = {"书名": "title", "作者": "author", "类别": "category", "状态": "state",
               "更新": "updated", "简介": "intro"}


def load_novel(path):
    """Reads a novel file: "键：值" lines, then "# 章名 地址" headings with one paragraph a line;
    a line "---" starts the next page of a chapter, a line "## 卷名" a volume."""
    fields = {}
    chapters = []
    volumes = []
    with open(path, encoding="utf-8") as stream:
        for line in stream.read().splitlines():
            line = line.strip()
            if not line:
                continue
            if line.startswith("## "):
                volumes.append((len(chapters), line[3:]))
            elif line.startswith("# "):
                name, _, address = line[2:].rpartition(" ")
                chapters.append(Chapter(name, address))
            elif not chapters:
                key, _, value = line.partition("：")
                fields[FIELD_NAMES[key]] = value
            elif line == "---":
                chapters[-1].pages.append([])
            else:
                chapters[-1].pages[-1].append(line)
    return Novel(os.path.splitext(os.path.basename(path))[0], fields, chapters, volumes)


def load_novels():
    """The novels, the most recently updated first, as the site lists them."""
    names = [name for name in os.listdir(FOLDER) if name.endswith(".txt")]
    novels = [load_novel(os.path.join(FOLDER, name)) for name in names]
    return sorted(novels, key=lambda novel: novel.updated, reverse=True)


NOVELS = load_novels()


def novel_path(novel):
    return "%sbook/%s/" % (PREFIX, novel.address)


def contents_path(novel, number):
    if number == 1:
        return novel_path(novel)
    return "%sindex_%d.html" % (novel_path(novel), number)


def chapter_file(chapter, page):
    if page == 1:
        return chapter.address + ".html"
    return "%s_%d.html" % (chapter.address, page)


def contents_page_count(novel):
    return (len(novel.chapters) + CHAPTERS_PER_CONTENTS_PAGE - 1) // CHAPTERS_PER_CONTENTS_PAGE


# --- page pieces ------------------------------------------------------------------------------

def head(title, meta=""):
    return (
        '<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" '
        '"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd">\n'
        '<html xmlns="http://www.w3.org/1999/xhtml">\n<head>\n'
        '<meta http-equiv="Content-Type" content="text/html; charset=gbk" />\n'
        '<title>%s</title>\n%s'
        '<meta http-equiv="Cache-Control" content="no-siteapp" />\n'
        '<meta http-equiv="mobile-agent" content="format=html5; url=/shuge/m/" />\n'
        '<link rel="stylesheet" type="text/css" href="/shuge/css/style.css" />\n'
        '<script type="text/javascript" src="/shuge/js/jquery.min.js"></script>\n'
        '<script type="text/javascript" src="/shuge/js/common.js"></script>\n'
        '</head>\n' % (html.escape(title), meta))


def top():
    return (
        '<body>\n<div id="wrapper">\n<script>login();</script>\n'
        '<div class="header">\n'
        '<div class="header_logo"><a href="/shuge/">%s</a></div>\n'
        '<script>panel();</script>\n'
        '<div class="header_search">\n'
        '<form name="articlesearch" action="/shuge/modules/article/search.php" method="post">\n'
        '<input type="hidden" name="searchtype" value="all" />\n'
        '<input name="searchkey" type="text" class="input" value="可搜书名和作者，请您少字也别输错字。" '
        'onfocus="this.value=\'\'" />\n'
        '<input type="submit" class="button" value="搜 索" />\n'
        '</form>\n</div>\n'
        '<div class="userpanel"><a href="#">登录</a> | <a href="#">注册</a></div>\n'
        '</div>\n'
        '<div class="nav"><ul>\n'
        '<li><a href="/shuge/">首页</a></li>\n<li><a href="#">我的书架</a></li>\n'
        '<li><a href="#">玄幻小说</a></li>\n<li><a href="#">修真小说</a></li>\n'
        '<li><a href="#">都市小说</a></li>\n<li><a href="#">历史小说</a></li>\n'
        '<li><a href="#">网游小说</a></li>\n<li><a href="#">科幻小说</a></li>\n'
        '<li><a href="#">排行榜单</a></li>\n<li><a href="#">完本小说</a></li>\n'
        '</ul></div>\n'
        '<div id="banner" style="display:none"></div>\n'
        '<div class="dahengfu"><script type="text/javascript">list1();</script></div>\n'
        % SITE_NAME)


def bottom():
    return (
        '<div class="dahengfu"><script type="text/javascript">list3();</script></div>\n'
        '<div class="footer" id="footer"><div class="footer_link"></div>\n'
        '<div class="footer_cont">\n'
        '<p>本站所有小说为转载作品，所有章节均由网友上传，转载至本站只是为了宣传，'
        '让更多读者欣赏。</p>\n'
        '<p>Copyright &copy; 2024 %s All Rights Reserved.</p>\n'
        '<script>tj();</script>\n</div>\n</div>\n</div>\n'
        '<script type="text/javascript">'
        'var _hmt = _hmt || [];(function(){var hm = document.createElement("script");'
        'hm.src = "/shuge/js/tongji.js";var s = document.getElementsByTagName("script")[0];'
        's.parentNode.insertBefore(hm, s);})();</script>\n'
        '</body>\n</html>\n' % SITE_NAME)


def message_page(title, message):
    return (head("%s_%s" % (title, SITE_NAME)) + top()
            + '<div class="box_con">\n<div class="con_top"><a href="/shuge/">%s</a> &gt; %s</div>\n'
              '<div class="blocktitle">%s</div>\n<div class="blockcontent">\n'
              '<div style="padding:30px 0;text-align:center">%s</div>\n'
              '<div style="text-align:center">[<a href="javascript:history.back(1)">返回上一页</a>]'
              ' [<a href="/shuge/">返回首页</a>]</div>\n</div>\n</div>\n'
              % (SITE_NAME, title, title, message)
            + bottom())


def home_page():
    rows = "".join(
        '<li><span class="s2"><a href="%s">%s</a></span>'
        '<span class="s3"><a href="%s%s" target="_blank">%s</a></span>'
        '<span class="s4">%s</span><span class="s5">%s</span></li>\n'
        % (novel_path(n), n.title, novel_path(n), chapter_file(n.chapters[-1], 1),
           n.chapters[-1].name, n.author, n.updated[5:10])
        for n in NOVELS)
    return (head("%s_无弹窗小说网_最新章节免费阅读" % SITE_NAME,
                 '<meta name="keywords" content="小说,无弹窗小说网,%s" />\n' % SITE_NAME)
            + top()
            + '<div id="main">\n<div class="hotbook"><script>index_top();</script></div>\n'
              '<div id="newscontent"><div class="l"><h2>最近更新小说列表</h2>\n<ul>\n%s</ul>\n'
              '</div></div>\n</div>\n' % rows
            + bottom())


def result_page(hits):
    rows = "".join(
        '<tr id="nr">\n'
        '<td class="odd"><a href="%s">%s</a></td>\n'
        '<td class="even"><a href="%s%s" target="_blank"> %s</a></td>\n'
        '<td class="odd">%s</td>\n'
        '<td class="even">%dK</td>\n'
        '<td class="odd" align="center">%s</td>\n'
        '<td class="even" align="center">%s</td>\n'
        '</tr>\n'
        % (novel_path(n), n.title, novel_path(n), chapter_file(n.chapters[-1], 1),
           n.chapters[-1].name, n.author, 2 + len(n.chapters) // 2, n.updated[2:10], n.state)
        for n in hits)
    if not hits:
        rows = '<tr><td colspan="6" align="center">没有找到相关的小说，请换个关键字再试。</td></tr>\n'
    hot = "".join('<li><a href="%s">%s</a></li>\n' % (novel_path(n), n.title) for n in NOVELS)
    return (head("搜索结果_%s" % SITE_NAME) + top()
            + '<div id="main">\n'
              '<div class="hot_sale"><h3>热门小说</h3>\n<ul>\n%s</ul></div>\n'
              '<script>search_top();</script>\n'
              '<table class="grid" width="100%%" align="center">\n<caption>搜索结果</caption>\n'
              '<tr align="center"><th>文章名称</th><th>最新章节</th><th>作者</th><th>字数</th>'
              '<th>更新</th><th>状态</th></tr>\n%s</table>\n'
              '<div class="pages"><div class="pagelink" id="pagelink"><em id="pagestats">1/1</em>'
              '<a href="#" class="first">1</a></div></div>\n'
              '</div>\n' % (hot, rows)
            + bottom())


def novel_meta(novel):
    last = novel.chapters[-1]
    return (
        '<meta name="keywords" content="%(title)s,%(title)s最新章节,%(author)s" />\n'
        '<meta name="description" content="%(title)s最新章节由网友提供，《%(title)s》情节跌宕起伏、'
        '扣人心弦，是一本情节与文笔俱佳的%(category)s小说。" />\n'
        '<meta property="og:type" content="novel"/>\n'
        '<meta property="og:title" content="%(title)s"/>\n'
        '<meta property="og:description" content="%(intro)s"/>\n'
        '<meta property="og:novel:category" content="%(category)s"/>\n'
        '<meta property="og:novel:author" content="%(author)s"/>\n'
        '<meta property="og:novel:book_name" content="%(title)s"/>\n'
        '<meta property="og:novel:read_url" content="%(path)s"/>\n'
        '<meta property="og:novel:status" content="%(state)s"/>\n'
        '<meta property="og:novel:update_time" content="%(updated)s"/>\n'
        '<meta property="og:novel:latest_chapter_name" content="%(last)s"/>\n'
        '<meta property="og:novel:latest_chapter_url" content="%(path)s%(lastfile)s"/>\n'
        % dict(novel.fields, path=novel_path(novel), last=last.name,
               lastfile=chapter_file(last, 1)))


def chapter_items(novel, chapters):
    return "".join('<dd><a href="%s%s">%s</a></dd>\n'
                   % (novel_path(novel), chapter_file(c, 1), c.name) for c in chapters)


def volume_heading(name):
    return '<dt>%s</dt>\n' % name


def contents_items(novel, start, end):
    """The chapters start..end-1 with the volume headings among them; a page that starts
    inside a volume repeats its heading first, and the last page ends with the headings that
    follow the last chapter."""
    started = [name for before, name in novel.volumes if before < start]
    items = volume_heading(started[-1]) if started else ""
    last = end if end < len(novel.chapters) else end + 1
    for index in range(start, last):
        items += "".join(volume_heading(name) for before, name in novel.volumes
                         if before == index)
        if index < end:
            items += chapter_items(novel, novel.chapters[index:index + 1])
    return items


def page_select(novel, number):
    count = contents_page_count(novel)
    options = []
    for n in range(1, count + 1):
        first = (n - 1) * CHAPTERS_PER_CONTENTS_PAGE + 1
        last = min(n * CHAPTERS_PER_CONTENTS_PAGE, len(novel.chapters))
        selected = ' selected="selected"' if n == number else ""
        options.append('<option value="%s"%s>第%d - %d章</option>\n'
                       % (contents_path(novel, n), selected, first, last))
    previous = contents_path(novel, number - 1) if number > 1 else "javascript:void(0);"
    # The last page's "下一页" leads back to the first, as on many sites.
    following = contents_path(novel, number + 1 if number < count else 1)
    return ('<div class="listpage"><span class="left"><a href="%s">上一页</a></span>\n'
            '<span class="middle"><select name="pageselect" '
            'onchange="self.location.href=options[selectedIndex].value">\n%s</select></span>\n'
            '<span class="right"><a href="%s">下一页</a></span></div>\n'
            % (previous, "".join(options), following))


def novel_page(novel, number):
    last = novel.chapters[-1]
    start = (number - 1) * CHAPTERS_PER_CONTENTS_PAGE
    end = min(start + CHAPTERS_PER_CONTENTS_PAGE, len(novel.chapters))
    latest = list(reversed(novel.chapters[-LATEST_CHAPTER_COUNT:]))
    title = "%s最新章节_%s全文阅读_%s_%s" % (novel.title, novel.title, novel.author, SITE_NAME)
    if number > 1:
        title = "%s(第%d页)" % (title, number)
    return (head(title, novel_meta(novel)) + top()
            + '<div class="box_con">\n'
              '<div class="con_top"><a href="/shuge/">%(site)s</a> &gt; <a href="#">%(category)s</a>'
              ' &gt; %(title)s最新章节列表</div>\n'
              '<div id="maininfo">\n<div id="info">\n<h1>%(title)s</h1>\n'
              '<p>作&nbsp;&nbsp;&nbsp;&nbsp;者：%(author)s</p>\n'
              '<p>状&nbsp;&nbsp;&nbsp;&nbsp;态：%(state)s,<a href="#" rel="nofollow">加入书架</a>,'
              '<a href="#footer">直达底部</a></p>\n'
              '<p>最后更新：%(updated)s</p>\n'
              '<p>最新章节：<a href="%(path)s%(lastfile)s">%(last)s</a></p>\n'
              '</div>\n'
              '<div id="intro">\n<p>%(intro)s</p>\n'
              '<p>各位书友要是觉得《%(title)s》还不错的话请不要忘记向您QQ群和微博里的朋友推荐哦！</p>\n'
              '</div>\n</div>\n'
              '<div id="sidebar"><script>info_right();</script></div>\n'
              '</div>\n'
              '<div class="box_ad"><script>list_top();</script></div>\n'
              % dict(novel.fields, site=SITE_NAME, path=novel_path(novel), last=last.name,
                     lastfile=chapter_file(last, 1))
            + '<div class="box_con">\n<div id="list">\n<dl>\n'
              '<dt>《%s》最新章节（提示：已启用缓存技术，最新章节可能会延时显示，登录书架即可实时查看。）</dt>\n'
              '%s<dt>《%s》正文</dt>\n%s</dl>\n</div>\n'
              % (novel.title, chapter_items(novel, latest), novel.title,
                 contents_items(novel, start, end))
            + page_select(novel, number) + '</div>\n'
            + bottom())


def chapter_page(novel, index, page):
    chapter = novel.chapters[index]
    count = len(chapter.pages)
    previous_chapter = novel.chapters[index - 1] if index > 0 else None
    next_chapter = novel.chapters[index + 1] if index + 1 < len(novel.chapters) else None
    contents = novel_path(novel)
    previous_chapter_link = chapter_file(previous_chapter, 1) if previous_chapter else contents
    next_chapter_link = chapter_file(next_chapter, 1) if next_chapter else contents
    previous_page_link = chapter_file(chapter, page - 1) if page > 1 else previous_chapter_link
    # A chapter's last page goes on to the next chapter, as the buttons of such sites do.
    next_page_link = chapter_file(chapter, page + 1) if page < count else next_chapter_link
    other = next((n for n in NOVELS if n is not novel), novel)
    heading = chapter.name if count == 1 else "%s（%d/%d）" % (chapter.name, page, count)
    title = "%s_%s_%s" % (chapter.name, novel.title, SITE_NAME)
    if count > 1:
        title = "%s(第%d/%d页)_%s_%s" % (chapter.name, page, count, novel.title, SITE_NAME)
    paragraphs = chapter.pages[page - 1]
    middle = (len(paragraphs) + 1) // 2
    text = "".join("&nbsp;&nbsp;&nbsp;&nbsp;%s<br /><br />\n" % p for p in paragraphs[:middle])
    text += '<div align="center"><script>read_in();</script></div>\n'
    text += "".join("&nbsp;&nbsp;&nbsp;&nbsp;%s<br /><br />\n" % p for p in paragraphs[middle:])
    if page < count:
        text += '<p class="tip">（本章未完，请点击下一页继续阅读）</p>\n'
    script = ('<script>var preview_page = "%s";var next_page = "%s";var index_page = "%s";'
              'var article_id = "%s";var chapter_id = "%s";</script>\n'
              % (previous_page_link, next_page_link, contents, novel.address, chapter.address))
    return (head(title, script) + top()
            + '<div class="content_read">\n<div class="box_con">\n'
              '<div class="con_top"><a href="/shuge/">%s</a> &gt; <a href="%s">%s</a> &gt; %s</div>\n'
              '<div class="bookname">\n<h1>%s</h1>\n'
              '<div class="bottem1"><a href="%s">上一章</a> &larr; <a href="%s">章节列表</a>'
              ' &rarr; <a href="%s">下一章</a> <a href="#" rel="nofollow">加入书签</a></div>\n'
              '<div class="lm">推荐阅读：<a href="%s">%s</a></div>\n'
              '</div>\n'
              '<div class="read_ad"><script>read2();</script></div>\n'
              '<div id="content"><script>app2();</script>\n'
              '<p>一秒记住【%s】，精彩小说无弹窗免费阅读！</p>\n%s</div>\n'
              '<div class="page_chapter">\n<ul>\n'
              '<li><a href="%s">上一页</a></li>\n<li><a href="%s">目录</a></li>\n'
              '<li><a href="%s">下一页</a></li>\n</ul>\n</div>\n'
              '<div class="read_ad"><script>read3();</script></div>\n'
              '</div>\n</div>\n'
              % (SITE_NAME, contents, novel.title, chapter.name, heading,
                 previous_chapter_link, contents, next_chapter_link,
                 novel_path(other), other.title, SITE_NAME, text,
                 previous_page_link, contents, next_page_link)
            + bottom())


def challenge_page(path, token):
    # As real sites send it: the redirect and a second script that does nothing.
    return ('<html><head><script>window.location="%s?kabcja=%s";</script>'
            '<script>var u=2;for(;u==1;u++);</script></head><body></body></html>\n'
            % (path, token))


def blocked_page():
    return message_page("出现错误", "对不起，您的访问过于频繁，请稍后再试！"
                        "<br />如果您是正常浏览，请稍等几秒后刷新本页面。")


def not_found_page():
    return message_page("出现错误", "出错了！您要访问的页面不存在或已被删除。")


# --- requests ---------------------------------------------------------------------------------

def decode_key(raw):
    """The search text of a form field, as a GBK page's form sends it; None when the bytes are
    not GBK (a client that sent UTF-8 finds nothing here, as on the real sites)."""
    data = urllib.parse.unquote_to_bytes(raw.replace(b"+", b" "))
    try:
        return data.decode("gbk").strip()
    except UnicodeDecodeError:
        return None


def form_value(body, name):
    for pair in body.split(b"&"):
        key, _, value = pair.partition(b"=")
        if key == name:
            return value
    return b""


CHAPTER_FILE = re.compile(r"^([A-Za-z0-9]+)(?:_([0-9]+))?\.html$")
CONTENTS_FILE = re.compile(r"^index_([0-9]+)\.html$")


class Site:
    """The site's answers and the little it remembers: recent request times for the flood check
    and when the challenged chapter was last answered with a challenge."""

    def __init__(self):
        self.lock = threading.Lock()
        self.recent = deque()
        self.challenged = {}

    @staticmethod
    def owns(path):
        return path.startswith(PREFIX) or path.startswith(OLD_PREFIX) or path in (
            PREFIX[:-1], OLD_PREFIX[:-1])

    def flooded(self):
        now = time.monotonic()
        with self.lock:
            while self.recent and now - self.recent[0] >= RATE_WINDOW_SECONDS:
                self.recent.popleft()
            self.recent.append(now)
            return len(self.recent) > RATE_LIMIT

    def pass_challenge(self, key):
        """False the first time `key` is asked (a challenge is due), true when asked again
        within the memory; the pass is used up, so the next request is challenged again."""
        now = time.monotonic()
        with self.lock:
            asked = self.challenged.pop(key, None)
            if asked is not None and now - asked < CHALLENGE_MEMORY_SECONDS:
                return True
            self.challenged[key] = now
            return False

    def respond(self, method, target, headers, body):
        """Answers one request: (status, extra headers, HTML text or bytes)."""
        raw_path, _, query = target.partition(b"?")
        path = urllib.parse.unquote(raw_path.decode("latin-1"))
        if "Mozilla/" not in headers.get("User-Agent", ""):
            return 403, [], b"<html><head><title>403 Forbidden</title></head><body>\r\n" \
                            b"<center><h1>403 Forbidden</h1></center>\r\n<hr><center>nginx</center>" \
                            b"\r\n</body></html>\r\n"
        if self.flooded():
            return 200, [], blocked_page()
        if path.startswith(OLD_PREFIX) or path == OLD_PREFIX[:-1]:
            moved = PREFIX + path[len(OLD_PREFIX):]
            location = "http://%s%s" % (headers.get("Host", "127.0.0.1:8808"),
                                        urllib.parse.quote(moved))
            if query:
                location += "?" + query.decode("latin-1")
            return 301, [("Location", location)], message_page("301", "页面已搬家")
        if path in (PREFIX, PREFIX[:-1]):
            return 200, [], home_page()
        if path == PREFIX + "modules/article/search.php":
            return self.search(method, headers, body)
        if method != "GET":
            return 405, [], not_found_page()
        return self.book(path, query, headers)

    def search(self, method, headers, body):
        if method != "POST":
            return 200, [], message_page("搜索", "请在页面上方的搜索框中输入书名或作者名。")
        key = decode_key(form_value(body, b"searchkey"))
        if key is None:
            return 200, [], result_page([])
        if not key:
            return 200, [], message_page("出现错误", "错误原因：请输入要搜索的关键字！")
        for novel in NOVELS:
            if novel.title == key:
                # The search script still names the old home; that answers with a 301 in turn.
                location = "http://%s%sbook/%s/" % (headers.get("Host", "127.0.0.1:8808"),
                                                    OLD_PREFIX, novel.address)
                return 303, [("Location", location)], b""
        return 200, [], result_page([n for n in NOVELS if key in n.title or key in n.author])

    def book(self, path, query, headers):
        parts = path[len(PREFIX):].split("/")
        if len(parts) != 3 or parts[0] != "book":
            return 404, [], not_found_page()
        novel = next((n for n in NOVELS if n.address == parts[1]), None)
        if novel is None:
            return 404, [], not_found_page()
        if parts[2] == "":
            return 200, [], novel_page(novel, 1)
        contents = CONTENTS_FILE.match(parts[2])
        if contents:
            number = int(contents.group(1))
            if 2 <= number <= contents_page_count(novel):
                return 200, [], novel_page(novel, number)
            return 404, [], not_found_page()
        chapter = CHAPTER_FILE.match(parts[2])
        if not chapter:
            return 404, [], not_found_page()
        index = next((i for i, c in enumerate(novel.chapters)
                      if c.address == chapter.group(1)), None)
        page = int(chapter.group(2) or 1)
        if index is None or chapter.group(2) == "1" or not 1 <= page <= len(
                novel.chapters[index].pages):
            return 404, [], not_found_page()
        key = (novel.address, novel.chapters[index].address)
        if key == CHALLENGED_CHAPTER and page == 1 and b"kabcja=" not in query:
            if not self.pass_challenge(key):
                token = "%08x" % (int(time.time() * 1000) & 0xFFFFFFFF)
                return 200, [], challenge_page(path, token)
        return 200, [], chapter_page(novel, index, page)


SITE = Site()


def owns(path):
    """True for addresses of this site (its home and its old home)."""
    return Site.owns(path)


def respond(method, target, headers, body):
    """Answers one request: (status, headers, body bytes); the body is GBK and gzip-compressed
    when the request accepts gzip."""
    status, extra, page = SITE.respond(method, target, headers, body)
    if isinstance(page, str):
        page = page.encode(CHARSET)
    extra = list(extra) + [("Server", "nginx"), ("Cache-Control", "private")]
    if page and "gzip" in headers.get("Accept-Encoding", "").lower():
        page = gzip.compress(page)
        extra.append(("Content-Encoding", "gzip"))
    return status, extra, page
