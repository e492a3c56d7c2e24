"""演示文苑: a demo GBK novel site that no rule file describes, for downloading by address.

Velunor reads it with its page finder (velunor-cli download URL, or the address typed into the
search box), and velunor-cli rule-draft drafts a rule for it. It is built the way many small
sites are, with nothing marked for a program:

  /wenyuan/                         home page: the site's lists and menus, no novel (the finder
                                    refuses it)
  /wenyuan/book/<id>/               a novel's information page: details in <meta> tags and a
                                    box, a "最新章节" block of the latest six chapters (newest
                                    first) and a link to the whole contents
  /wenyuan/book/<id>/mulu_<p>.html  the contents, 20 chapters a page, under volume headings, with
                                    a <select> page jump and "下一页"
  /wenyuan/book/<id>/<n>.html       a chapter: paragraphs with advertisement boxes between them,
                                    the site's notice, navigation above and below; every fifth
                                    chapter goes on at <n>_2.html ("下一页")

Pages are GBK, declared only in their meta. Every page is made from the novel's text here.
"""

import html
import random
import urllib.parse

PREFIX = "/wenyuan/"
SITE_NAME = "演示文苑"
PER_PAGE = 20

SENTENCES = [
    "山雾从谷底慢慢升起来，把石阶一级一级地吞进去",
    "老掌柜把算盘推到一边，给炉子添了一块炭",
    "她在灯下把那封信读了三遍，才慢慢折好收进袖中",
    "远处传来几声犬吠，随后镇子又安静下来",
    "少年背着木剑走过桥头，回头望了一眼城楼",
    "雨点打在芭蕉叶上，噼噼啪啪响成一片",
    "船家解开缆绳，长篙一点，小船便离了岸",
    "院子里的桂花开了，香气一直飘到巷口",
    "他想起师父临走时的话，心里一阵发紧",
    "茶凉了也没人去续，两个人就这样对坐着",
    "城门口的告示换了新的，围着看的人越来越多",
    "天边透出一线鱼肚白，鸡叫了第二遍",
]

VOLUMES = [("第一卷 出山", 18), ("第二卷 入世", 17), ("第三卷 归途", 10)]
CHINESE_DIGITS = "零一二三四五六七八九"


def chinese_number(n):
    if n < 10:
        return CHINESE_DIGITS[n]
    tens, ones = divmod(n, 10)
    text = ("" if tens == 1 else CHINESE_DIGITS[tens]) + "十"
    return text + (CHINESE_DIGITS[ones] if ones else "")


class Novel:
    def __init__(self, book_id, title, author, intro, titles):
        self.book_id = book_id
        self.title = title
        self.author = author
        self.intro = intro
        # (volume heading or None, chapter name), in order.
        self.chapters = []
        number = 0
        for volume, count in VOLUMES:
            for k in range(count):
                number += 1
                self.chapters.append(
                    (volume if k == 0 else None,
                     "第%s章 %s" % (chinese_number(number), titles[(number - 1) % len(titles)])))

    def paragraphs(self, n):
        """The text of chapter n (from 1): paragraphs made from the sentences, the same each
        time."""
        chooser = random.Random("%s-%d" % (self.book_id, n))
        return ["，".join(chooser.sample(SENTENCES, chooser.randint(2, 4))) + "。"
                for _ in range(chooser.randint(6, 9))]


NOVELS = {
    "3071": Novel("3071", "松风入卷", "云栖", "一卷旧书，一段山中岁月。书生入山寻师，"
                  "却在松风里读出了另一段往事。",
                  ["入山", "松下", "问道", "夜读", "访友", "听雨", "观棋", "下山", "渡口"]),
}


def escaped(text):
    return html.escape(text, quote=True)


def page(title, body, head=""):
    return ('<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv="Content-Type" '
            'content="text/html; charset=gbk" />\n<title>%s</title>\n'
            '<meta name="keywords" content="小说,免费阅读,全文阅读,无弹窗" />\n%s'
            '<script src="/wenyuan/js/tongji.js"></script>\n'
            '<script>var _ad=window._ad||[];_ad.push("top");</script>\n</head>\n<body>\n'
            '<div class="top"><a href="/wenyuan/">演示文苑</a> | <a href="/wenyuan/sort/1/">玄幻</a>'
            ' | <a href="/wenyuan/sort/2/">武侠</a> | <a href="/wenyuan/top/">排行榜</a>'
            ' | <a href="/wenyuan/full/">全本</a></div>\n'
            '<div class="search"><form action="/wenyuan/s.php"><input name="k" />'
            '<button>搜索</button></form></div>\n%s\n'
            '<div class="footer">本站所有小说均来自网友上传，仅供试读。<a href="/wenyuan/about.html">'
            '关于本站</a> <a href="/wenyuan/contact.html">联系我们</a></div>\n'
            '<script>_ad.push("bottom");</script>\n</body>\n</html>\n' % (escaped(title), head, body))


def home_page():
    rows = "".join('<li><a href="/wenyuan/book/%s/">%s</a> / %s</li>\n'
                   % (n.book_id, escaped(n.title), escaped(n.author)) for n in NOVELS.values())
    return page("演示文苑_好看的小说免费阅读",
                '<div class="box"><h2>本周推荐</h2><ul>%s</ul></div>\n'
                '<div class="box"><h2>最近更新</h2><ul>%s</ul></div>' % (rows, rows))


def chapter_href(novel, n):
    return "/wenyuan/book/%s/%d.html" % (novel.book_id, n)


def info_page(novel):
    count = len(novel.chapters)
    latest = "".join('<li><a href="%s">%s</a></li>\n' % (chapter_href(novel, n),
                                                          escaped(novel.chapters[n - 1][1]))
                     for n in range(count, count - 6, -1))
    head = ('<meta property="og:novel:book_name" content="%s" />\n'
            '<meta property="og:novel:author" content="%s" />\n'
            % (escaped(novel.title), escaped(novel.author)))
    body = ('<div class="bookinfo"><h1>%(title)s</h1><p>作&nbsp;&nbsp;者：%(author)s</p>'
            '<p>状&nbsp;&nbsp;态：连载中</p><p class="intro">%(intro)s</p>'
            '<p><a href="/wenyuan/book/%(id)s/mulu_1.html">查看全部章节</a> '
            '<a href="/wenyuan/vote.php?id=%(id)s">投票推荐</a></p></div>\n'
            '<div class="ad"><script>_ad.push("info");</script>广告位招租</div>\n'
            '<div class="box"><h2>%(title)s 最新章节</h2><ul class="latest">\n%(latest)s</ul>'
            '</div>' % dict(title=escaped(novel.title), author=escaped(novel.author),
                            intro=escaped(novel.intro), id=novel.book_id, latest=latest))
    return page("%s最新章节_%s全文阅读_%s" % (novel.title, novel.title, SITE_NAME), body, head)


def contents_page(novel, number):
    pages = (len(novel.chapters) + PER_PAGE - 1) // PER_PAGE
    if not 1 <= number <= pages:
        return None
    first = (number - 1) * PER_PAGE
    rows = []
    for n in range(first + 1, min(first + PER_PAGE, len(novel.chapters)) + 1):
        volume, name = novel.chapters[n - 1]
        if volume:
            rows.append('</ul>\n<h3 class="juan">%s</h3>\n<ul class="mulu">' % escaped(volume))
        rows.append('<li><a href="%s">%s</a></li>' % (chapter_href(novel, n), escaped(name)))
    options = "".join('<option value="/wenyuan/book/%s/mulu_%d.html"%s>第%d页</option>'
                      % (novel.book_id, p, ' selected="selected"' if p == number else "", p)
                      for p in range(1, pages + 1))
    nav = '<a href="/wenyuan/book/%s/">返回书页</a>' % novel.book_id
    if number > 1:
        nav += ' <a href="/wenyuan/book/%s/mulu_%d.html">上一页</a>' % (novel.book_id, number - 1)
    if number < pages:
        nav += ' <a href="/wenyuan/book/%s/mulu_%d.html">下一页</a>' % (novel.book_id, number + 1)
    body = ('<div class="crumb"><a href="/wenyuan/">首页</a> &gt; %s</div>\n'
            '<h1>%s 章节目录</h1>\n<div class="list"><ul class="mulu">\n%s\n</ul></div>\n'
            '<div class="pages">%s <select onchange="location=this.value">%s</select></div>'
            % (escaped(novel.title), escaped(novel.title), "\n".join(rows), nav, options))
    return page("%s章节目录_第%d页_%s" % (novel.title, number, SITE_NAME), body)


def chapter_page(novel, n, part):
    count = len(novel.chapters)
    if not 1 <= n <= count:
        return None
    paragraphs = novel.paragraphs(n)
    paged = n % 5 == 0
    if paged:
        half = len(paragraphs) // 2
        paragraphs = paragraphs[:half] if part == 1 else paragraphs[half:]
    elif part != 1:
        return None
    text = []
    for k, paragraph in enumerate(paragraphs):
        text.append("<p>%s</p>" % escaped(paragraph))
        if k == 2:
            text.append('<div class="ad"><script>_ad.push("text");</script>'
                        '手机用户请访问 m.wenyuan.example 阅读</div>')
    contents = "/wenyuan/book/%s/mulu_%d.html" % (novel.book_id, (n - 1) // PER_PAGE + 1)
    previous = chapter_href(novel, n - 1) if n > 1 else contents
    following = chapter_href(novel, n + 1) if n < count else contents
    if paged and part == 1:
        following_caption, following = "下一页", "/wenyuan/book/%s/%d_2.html" % (novel.book_id, n)
    else:
        following_caption = "下一章"
    nav = ('<div class="nav"><a href="%s">上一章</a> ← <a href="%s">章节目录</a> → '
           '<a href="%s">%s</a> <a href="/wenyuan/mark.php">加入书签</a></div>'
           % (previous, contents, following, following_caption))
    name = novel.chapters[n - 1][1] + ("（2/2）" if paged and part == 2 else "")
    body = ('<div class="crumb"><a href="/wenyuan/">首页</a> &gt; <a href="/wenyuan/book/%s/">%s</a>'
            '</div>\n<h1>%s</h1>\n%s\n<div id="nr1">\n%s\n</div>\n'
            '<div class="notice">请记住本站域名，下次阅读更方便。</div>\n%s'
            % (novel.book_id, escaped(novel.title), escaped(name), nav, "\n".join(text), nav))
    return page("%s_%s_%s" % (name, novel.title, SITE_NAME), body)


def site_page(path):
    """(status, page text) for a path below PREFIX."""
    local = path[len(PREFIX):]
    if local == "":
        return 200, home_page()
    parts = local.split("/")
    if len(parts) == 3 and parts[0] == "book" and parts[1] in NOVELS:
        novel = NOVELS[parts[1]]
        name = parts[2]
        text = None
        if name == "":
            text = info_page(novel)
        elif name.startswith("mulu_") and name.endswith(".html") and name[5:-5].isdigit():
            text = contents_page(novel, int(name[5:-5]))
        elif name.endswith(".html"):
            number, _, part = name[:-5].partition("_")
            if number.isdigit() and part in ("", "2"):
                text = chapter_page(novel, int(number), 2 if part else 1)
        if text is not None:
            return 200, text
    return 404, page("404", "<h2>页面不存在</h2>")


def owns(path):
    return path.startswith(PREFIX) or path == PREFIX[:-1]


def respond(target):
    """Answers one GET: (status, headers, body bytes, content type)."""
    path = urllib.parse.unquote(target.partition(b"?")[0].decode("latin-1"))
    if path == PREFIX[:-1]:
        return 301, [("Location", PREFIX)], b"", "text/html"
    status, text = site_page(path)
    return status, [], text.encode("gbk"), "text/html"
