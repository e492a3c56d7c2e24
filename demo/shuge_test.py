#!/usr/bin/env python3
"""Checks that 演示书阁 (shuge.py) answers as its rule file expects: run python3 demo/shuge_test.py."""

import gzip
import http.client
import os
import re
import sys
import threading
import time
import unittest
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import demo_site  # noqa: E402
import shuge  # noqa: E402

BROWSER = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0"
BOOK = "/shuge/book/Xq7bPz-kM2a/"


def gbk_key(text):
    return urllib.parse.quote(text.encode("gbk"), safe="")


class SiteTest(unittest.TestCase):
    """The site on an ephemeral port, its memory (challenges, recent requests) fresh for each
    test. Requests are paced below the flood limit unless a class says not."""

    pace = 0.1

    @classmethod
    def setUpClass(cls):
        cls.server = demo_site.ThreadingHTTPServer(("127.0.0.1", 0), demo_site.Handler)
        cls.port = cls.server.server_address[1]
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()

    def setUp(self):
        shuge.SITE = shuge.Site()

    def request(self, path, method="GET", body=None, agent=BROWSER, headers=None):
        """(status, headers, text decoded from GBK)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        sent = {"User-Agent": agent} if agent else {}
        sent.update(headers or {})
        if body is not None:
            sent["Content-Type"] = "application/x-www-form-urlencoded"
        connection.request(method, path, body=body, headers=sent)
        answer = connection.getresponse()
        data = answer.read()
        connection.close()
        time.sleep(self.pace)
        if answer.getheader("Content-Encoding") == "gzip":
            data = gzip.decompress(data)
        return answer.status, answer, data.decode("gbk")

    def search(self, key_field):
        return self.request("/shuge/modules/article/search.php", "POST",
                            "searchtype=all&searchkey=" + key_field)

    def next_link(self, pattern, page):
        found = re.search(pattern, page)
        return found.group(1) if found else None


class SearchTest(SiteTest):
    def test_an_author_lists_both_novels_in_a_result_table(self):
        status, _, page = self.search(gbk_key("沈砚秋"))
        self.assertEqual(status, 200)
        rows = re.findall(r'<tr id="nr">\s*<td class="odd"><a href="([^"]+)">([^<]+)</a>', page)
        self.assertEqual(rows, [(BOOK, "雾港灯语"), ("/shuge/book/Tn4cRw-Ye8d/", "听潮小札")])

    def test_an_exact_title_is_sent_through_the_old_home_to_the_novel(self):
        status, answer, _ = self.search(gbk_key("雾港灯语"))
        self.assertEqual(status, 303)
        old = urllib.parse.urlsplit(answer.getheader("Location"))
        self.assertEqual(old.path, "/shuge-old/book/Xq7bPz-kM2a/")
        status, answer, _ = self.request(old.path)
        self.assertEqual(status, 301)
        new = urllib.parse.urlsplit(answer.getheader("Location"))
        self.assertEqual(new.path, BOOK)
        status, _, page = self.request(new.path)
        self.assertEqual(status, 200)
        self.assertIn("<h1>雾港灯语</h1>", page)

    def test_keys_the_site_cannot_read_find_nothing(self):
        for field in (urllib.parse.quote("沈砚秋".encode("utf-8")), gbk_key("无此书"), ""):
            with self.subTest(field=field):
                status, _, page = self.search(field)
                self.assertEqual(status, 200)
                self.assertNotIn('<tr id="nr">', page)

    def test_a_get_shows_the_form_without_results(self):
        status, _, page = self.request("/shuge/modules/article/search.php?searchkey=" +
                                       gbk_key("沈砚秋"))
        self.assertEqual(status, 200)
        self.assertIn('method="post"', page)
        self.assertNotIn('<table class="grid"', page)


class AddressTest(SiteTest):
    def test_the_old_home_moves_every_address_with_its_case_and_query(self):
        status, answer, _ = self.request("/shuge-old/book/Xq7bPz-kM2a/Pq93Lm.html?kabcja=1")
        self.assertEqual(status, 301)
        self.assertEqual(answer.getheader("Location"), "http://127.0.0.1:%d%sPq93Lm.html?kabcja=1"
                         % (self.port, BOOK))

    def test_addresses_are_case_sensitive(self):
        self.assertEqual(self.request(BOOK)[0], 200)
        for path in ("/shuge/book/xq7bpz-km2a/", BOOK + "3fh9qe.html", BOOK + "3Fh9Qe_1.html",
                     BOOK + "index_1.html", BOOK + "index_4.html"):
            with self.subTest(path=path):
                self.assertEqual(self.request(path)[0], 404)

    def test_only_browsers_are_served(self):
        self.assertEqual(self.request(BOOK, agent="curl/7.88.1")[0], 403)
        self.assertEqual(self.request(BOOK, agent=None)[0], 403)

    def test_gzip_is_sent_to_clients_that_accept_it(self):
        _, plain_answer, plain = self.request(BOOK)
        _, answer, unpacked = self.request(BOOK, headers={"Accept-Encoding": "gzip, deflate"})
        self.assertIsNone(plain_answer.getheader("Content-Encoding"))
        self.assertEqual(answer.getheader("Content-Encoding"), "gzip")
        self.assertEqual(plain, unpacked)


class ContentsTest(SiteTest):
    OPTION_NEXT = r'selected="selected">[^<]*</option>\s*<option value="([^"]+)"'
    LINK_NEXT = r'<span class="right"><a href="([^"]+)">下一页</a>'

    def test_three_pages_each_with_the_latest_block_then_its_own_chapters(self):
        pages = []
        chapters = []
        headings = []
        path = BOOK
        while path and path not in pages:
            pages.append(path)
            status, _, page = self.request(path)
            self.assertEqual(status, 200, path)
            latest, _, body = page.partition("<dt>《雾港灯语》正文</dt>")
            self.assertEqual(re.findall(r"<dd><a [^>]*>([^<]+)</a>", latest),
                             ["第八章 雾散", "第七章 灯语", "第六章 信笺", "第五章 夜渡"])
            own = body.partition("</dl>")[0]
            chapters += re.findall(r'<dd><a href="[^"]+">([^<]+)</a>', own)
            headings.append(re.findall(r"<dt>([^<]+)</dt>", own))
            path = self.next_link(self.OPTION_NEXT, page)
            if path is None:
                self.assertEqual(self.next_link(self.LINK_NEXT, page), BOOK,
                                 "the last page's 下一页 leads back to the first")
        self.assertEqual(pages, [BOOK, BOOK + "index_2.html", BOOK + "index_3.html"])
        self.assertEqual(chapters, ["第一章 雾起", "第二章 旧灯塔", "第三章 守灯人", "第四章 潮信",
                                    "第五章 夜渡", "第六章 信笺", "第七章 灯语", "第八章 雾散"])
        # The first volume spans pages 1 and 2: page 2 repeats its heading at the top.
        self.assertEqual(headings, [["作品相关", "第一卷 雾锁灯塔"],
                                    ["第一卷 雾锁灯塔", "第二卷 三短一长"], ["第二卷 三短一长"]])

    def test_a_novel_on_one_page_has_no_next_option_and_links_to_itself(self):
        _, _, page = self.request("/shuge/book/Tn4cRw-Ye8d/")
        self.assertIsNone(self.next_link(self.OPTION_NEXT, page))
        self.assertEqual(self.next_link(self.LINK_NEXT, page), "/shuge/book/Tn4cRw-Ye8d/")


class ChapterTest(SiteTest):
    NEXT = r'<li><a href="([^"]+)">下一页</a></li>'

    def test_a_chapter_over_three_pages_then_on_to_the_next_chapter(self):
        path = BOOK + "3Fh9Qe.html"
        for number in (1, 2, 3):
            status, _, page = self.request(path)
            self.assertEqual(status, 200, path)
            self.assertIn("<h1>第三章 守灯人（%d/3）</h1>" % number, page)
            self.assertEqual("点击下一页继续阅读" in page, number < 3)
            path = BOOK + self.next_link(self.NEXT, page)
        self.assertEqual(path, BOOK + "Tq5Lw0.html")

    def test_the_last_pages_next_link_is_the_contents(self):
        _, _, page = self.request(BOOK + "Wj7Ds5.html")
        self.assertEqual(self.next_link(self.NEXT, page), BOOK)

    def test_the_challenged_chapter_alternates_challenge_and_text(self):
        answers = [self.request(BOOK + "Pq93Lm.html")[2] for _ in range(3)]
        for index in (0, 2):
            challenge = answers[index]
            self.assertRegex(challenge, r'^<html><head><script>window\.location="[^"]*\?kabcja='
                                        r'[0-9a-f]+";</script><script>var u=2;for\(;u==1;u\+\+\);'
                                        r'</script></head><body></body></html>\s*$')
        self.assertIn("腊月十六那天", answers[1])

    def test_the_challenge_address_answers_the_chapter(self):
        challenge = self.request(BOOK + "Pq93Lm.html")[2]
        target = re.search(r'window\.location="([^"]+)"', challenge).group(1)
        self.assertIn("腊月十六那天", self.request(target)[2])


class FloodTest(SiteTest):
    pace = 0

    def test_more_than_twelve_requests_a_second_are_refused(self):
        pages = [self.request("/shuge/")[2] for _ in range(13)]
        self.assertTrue(all("您的访问过于频繁" not in page for page in pages[:12]))
        self.assertIn("您的访问过于频繁", pages[12])
        self.assertGreater(len(pages[12].encode("gbk")), 2048,
                           "only the rule's pattern, not the script-page check, can tell")
        time.sleep(1.1)
        self.assertNotIn("您的访问过于频繁", self.request("/shuge/")[2])


if __name__ == "__main__":
    unittest.main()
