#!/usr/bin/env python3
"""Checks that 演示书林 (shulin.py) answers as its rule file expects: run python3 demo/shulin_test.py."""

import http.client
import os
import re
import sys
import unittest
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# The demo server on an ephemeral port, started and stopped as for 演示书阁.
from shuge_test import SiteTest  # noqa: E402

ENGINE = "/shulin-so/cse/search?s=shulin&q="


class ShulinTest(SiteTest):
    def request(self, path, host="127.0.0.1"):
        """(status, Content-Type, body bytes), asked under the host name `host`."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.request("GET", path, headers={"Host": "%s:%d" % (host, self.port)})
        answer = connection.getresponse()
        data = answer.read()
        connection.close()
        return answer.status, answer.getheader("Content-Type"), data

    def search(self, key, charset):
        return self.request(ENGINE + urllib.parse.quote(key.encode(charset)), host="localhost")

    def test_the_engine_answers_utf8_keys_in_utf8_on_its_own_host_only(self):
        status, kind, data = self.search("温喆", "utf-8")
        self.assertEqual((status, kind), (200, "text/html; charset=utf-8"))
        page = data.decode("utf-8")
        self.assertIn('<meta charset="utf-8" />', page)
        links = re.findall(r'<a cpos="title" href="([^"]+)" title="([^"]+)"', page)
        base = "http://127.0.0.1:%d/shulin/book/" % self.port
        self.assertEqual(links, [(base + "40217.html", "夜渡青溪"), (base + "40388.html", "纸鸢与灯")])
        # A key in the site's GBK is no UTF-8: the engine finds nothing, as a real one would.
        self.assertNotIn('cpos="title"', self.search("温喆", "gbk")[2].decode("utf-8"))
        self.assertEqual(self.request(ENGINE + "x")[0], 404)

    def test_the_sites_pages_are_gbk_declared_only_in_their_meta_and_lead_to_the_chapters(self):
        status, kind, data = self.request("/shulin/book/40217.html")
        self.assertEqual((status, kind), (200, "text/html"))
        page = data.decode("gbk")
        self.assertIn('content="text/html; charset=gbk"', page)
        self.assertIn("温喆", page)
        self.assertIn('action="http://localhost:%d/shulin-so/cse/search"' % self.port, page)
        contents = re.search(r'<a class="read" href="([^"]+)">开始阅读</a>', page).group(1)
        listed = self.request(contents)[2].decode("gbk").split("正文卷</dt>")[1]
        chapters = re.findall(r'<dd><a href="([^"]+)">([^<]+)</a></dd>', listed)
        self.assertEqual([name for _, name in chapters], ["第一章 夜渡", "第二章 铜钱", "第三章 雾散"])
        chapter = self.request(chapters[1][0])[2].decode("gbk")
        self.assertIn("背面刻着一个小小的“喆”字。", chapter)
        self.assertEqual(self.request("/shulin/40217/4.html")[0], 404)


if __name__ == "__main__":
    unittest.main()
