#include "core/core.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

struct UrlCase {
    const char16_t* base;
    const char16_t* link;
    const char16_t* expected;
};

std::string Describe(const UrlCase& c) {
    return WideToUtf8(std::u16string(c.base) + u" + " + c.link);
}

void ExpectResolved(const UrlCase* begin, const UrlCase* end) {
    for (const UrlCase* c = begin; c != end; ++c) {
        std::u16string link = c->link;
        CompleteUrl(c->base, link);
        EXPECT_EQ(WideToUtf8(link), WideToUtf8(c->expected)) << Describe(*c);
    }
}

TEST(CompleteUrl, AbsoluteAndSpecialLinks) {
    const UrlCase cases[] = {
        {u"http://a.com/b/", u"", u""},
        {u"http://a.com/b/", u"HTTP://X.COM/Page.HTML", u"HTTP://X.COM/Page.HTML"},
        {u"http://a.com/b/", u"https://x.com/P", u"https://x.com/P"},
        {u"http://A.com/Dir/Page.html", u"#", u"http://A.com/Dir/Page.html"},
        {u"no scheme here", u"#", u"no scheme here"},
        {u"no scheme here", u"/x.html", u""},
        {u"no scheme here", u"x.html", u""},
        {u"ftp://a.com/x/", u"x.html", u""},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, RootRelativeLinksKeepTheBaseHostAsWritten) {
    const UrlCase cases[] = {
        {u"http://WWW.Site.com/Book/1.html", u"/Read/2.HTML", u"http://WWW.Site.com/Read/2.HTML"},
        {u"https://www.site.com/s?k=x", u"/book/UMJ4uW-t1WEuwUjttRcGug2/",
         u"https://www.site.com/book/UMJ4uW-t1WEuwUjttRcGug2/"},
        {u"http://www.site.com", u"/a", u"http://www.site.com/a"},
        {u"https://www.site.com/x/y/", u"/a", u"https://www.site.com/a"},
        // The "/" search starts one character past the host's first character.
        {u"http:///x/y", u"/a", u"http:///x/a"},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, SchemeRelativeLinksTakeTheBaseScheme) {
    const UrlCase cases[] = {
        {u"https://www.site.com/book/", u"//img.cdn.com/A.jpg", u"https://img.cdn.com/A.jpg"},
        {u"HTTPS://www.site.com/book/", u"//img.cdn.com/a.jpg", u"https://img.cdn.com/a.jpg"},
        {u"http://www.site.com/book/", u"//img.cdn.com/a.jpg", u"http://img.cdn.com/a.jpg"},
        {u"no scheme", u"//img.cdn.com/a.jpg", u""},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, RelativeLinksResolveInThePageFolder) {
    const UrlCase cases[] = {
        // The last segment holds "." so it is a file name and is dropped.
        {u"http://www.site.com/book/12/index.html", u"345.html",
         u"http://www.site.com/book/12/345.html"},
        // A last segment without "." counts as a folder.
        {u"http://www.site.com/book/12", u"345.html", u"http://www.site.com/book/12/345.html"},
        {u"http://www.site.com/book/12/", u"345.html", u"http://www.site.com/book/12/345.html"},
        // Letter case is kept, in the page's address and in the link.
        {u"http://WWW.Site.com/Book/", u"Ch1.HTML", u"http://WWW.Site.com/Book/Ch1.HTML"},
        {u"http://www.site.com/Book/aB3x/Index.Html", u"cD4y.html",
         u"http://www.site.com/Book/aB3x/cD4y.html"},
        {u"https://www.site.com/book/list.php", u"ch1.html", u"https://www.site.com/book/ch1.html"},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, TheBaseQueryTakesNoPart) {
    const UrlCase cases[] = {
        {u"http://www.site.com/search?q=abc", u"book/2/", u"http://www.site.com/book/2/"},
        {u"http://www.site.com/s/?q=a.b/c", u"book/2/", u"http://www.site.com/s/book/2/"},
        {u"http://www.site.com/search.php?key=x", u"/book/2/", u"http://www.site.com/book/2/"},
        {u"http://www.site.com?key=x", u"/book/2/", u"http://www.site.com/book/2/"},
        {u"http://www.site.com/a/page.html#top", u"b.html", u"http://www.site.com/a/b.html"},
        // The "#" link keeps the whole base, query included.
        {u"http://www.site.com/search?q=abc", u"#", u"http://www.site.com/search?q=abc"},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, ParentLinksClimbButNeverAboveTheRoot) {
    const UrlCase cases[] = {
        {u"http://www.site.com/a/b/page.html", u"../x.html", u"http://www.site.com/a/x.html"},
        {u"http://www.site.com/a/b/", u"../../x.html", u"http://www.site.com/x.html"},
        {u"http://www.site.com/a/b/", u"../../../x.html", u""},
        {u"http://WWW.Site.com/A/b/", u"../../../x.html", u""},
        {u"http://WWW.Site.com/A/b/", u"../X.html", u"http://WWW.Site.com/A/X.html"},
        {u"http://www.site.com/a/page.html", u"../x.html", u"http://www.site.com/x.html"},
        {u"https://www.site.com/a/", u"../../x.html", u""},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, LinksOnTheHomeAddress) {
    const UrlCase cases[] = {
        {u"http://www.site.com", u"x.html", u"http://www.site.com/x.html"},
        {u"http://www.site.com/", u"x.html", u"http://www.site.com/x.html"},
        // The scheme and the host are compared without regard to case.
        {u"HTTP://WWW.SITE.COM/", u"x.html", u"HTTP://WWW.SITE.COM/x.html"},
        {u"http://WWW.Site.COM/", u"X.html", u"http://WWW.Site.COM/X.html"},
        {u"HTTP://WWW.SITE.COM/", u"../x.html", u""},
        {u"https://www.site.com/", u"x.html", u"https://www.site.com/x.html"},
        {u"http://www.site.com/", u"../x.html", u""},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

TEST(CompleteUrl, NonAsciiLinksStayAsWritten) {
    std::u16string link = u"第一章ABC.html";
    CompleteUrl(u"http://www.site.com/b/", link);
    EXPECT_EQ(link, u"http://www.site.com/b/第一章ABC.html");
}

} // namespace
} // namespace velunor
