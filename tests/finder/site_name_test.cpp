// The name a site without a rule goes by, as the shelf and the library's folders show it.

#include "finder/finder.h"

#include "core/core.h"

#include <gtest/gtest.h>

namespace velunor::finder {
namespace {

TEST(SiteName, ComesFromTheSiteNameTagElseTheTitlesLastPartElseTheHost) {
    const struct {
        std::u16string_view head;
        std::u16string_view url;
        std::u16string_view name;
    } cases[] = {
        {u"<meta property=\"og:site_name\" content=\" 青石书屋 \"><title>青石小径_别名</title>",
         u"http://a.test/1/", u"青石书屋"},
        {u"<title>青石小径最新章节_青石小径全文阅读 - 星河书屋</title>", u"http://a.test/",
         u"星河书屋"},
        {u"<title>青石小径 | 云间客 | 山海阁</title>", u"http://a.test/", u"山海阁"},
        // A last part that names the page, or is a sentence, is no site's name.
        {u"<title>星河书屋_青石小径最新章节</title>", u"https://www.xs.test:8080/b/",
         u"xs.test:8080"},
        {u"<title>青石小径</title>", u"http://xs.test/", u"xs.test"},
        {u"<title>a - 这是一个很长很长的网站标语不会是名字</title>", u"http://xs.test/",
         u"xs.test"},
        {u"", u"http://www.xs.test", u"xs.test"},
    };
    for (const auto& page : cases) {
        std::u16string html = u"<html><head>" + std::u16string(page.head) + u"</head></html>";
        EXPECT_EQ(WideToUtf8(FindSiteName(html, page.url)), WideToUtf8(page.name))
            << WideToUtf8(page.head);
    }
}

} // namespace
} // namespace velunor::finder
