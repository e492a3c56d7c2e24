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
        // Slashes after the scheme are read as browsers read them: the host is "x".
        {u"http:///x/y", u"/a", u"http://x/a"},
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
        // The scheme and the host are compared without regard to case; the scheme is written
        // in lower case, the host as the page wrote it.
        {u"HTTP://WWW.SITE.COM/", u"x.html", u"http://WWW.SITE.COM/x.html"},
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

// A link is read as browsers read the text of an href; every character they keep stays as
// written, escapes and bytes that are no valid GBK included.
TEST(CompleteUrl, LinksAreReadAsBrowsersReadThem) {
    const std::u16string undecodable = u"\xDC81\xDCFF.html";
    const std::u16string undecodableResolved = u"http://s.com/b/" + undecodable;
    const UrlCase cases[] = {
        {u"http://s.com/b/", u" \t2.html\r\n", u"http://s.com/b/2.html"},
        {u"http://s.com/b/", u"1\n2.html", u"http://s.com/b/12.html"},
        {u"http://s.com/b/", u" \n ", u""},
        {u"http://s.com/b/", u"a b.html", u"http://s.com/b/a b.html"},
        {u"http://s.com/b/", u"c\\d.html", u"http://s.com/b/c/d.html"},
        {u"http://s.com/b/", u"\\d.html?k=\\", u"http://s.com/d.html?k=\\"},
        {u"http://s.com/b/", u"HTTP:\\\\X.com\\Y", u"HTTP://X.com/Y"},
        {u"http://s.com/b/", u"%E7%AC%AC.html?q=a%20b", u"http://s.com/b/%E7%AC%AC.html?q=a%20b"},
        {u"http://s.com/b/", u"%u4e2d%25.html", u"http://s.com/b/%u4e2d%25.html"},
        {u"http://s.com/b/", undecodable.c_str(), undecodableResolved.c_str()},
        {u"http://s.com/第/", u"章.html#节", u"http://s.com/第/章.html#节"},
        // Links that lead nowhere the fetcher can go.
        {u"http://s.com/b/", u"javascript:void(0)", u""},
        {u"http://s.com/b/", u"mailto:a@s.com", u""},
        {u"http://s.com/b/", u"ftp://s.com/x", u""},
        {u"http://s.com/b/", u"//中.com/x", u""},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

// A link that is only a query names the page it was found on with that query: the next page
// of a chapter is often written "?page=2".
TEST(CompleteUrl, QueryLinksKeepThePage) {
    const UrlCase cases[] = {
        {u"http://x.com/a/456.html", u"?page=2", u"http://x.com/a/456.html?page=2"},
        {u"http://x.com/a/456.html?page=1", u"?page=2", u"http://x.com/a/456.html?page=2"},
        {u"http://x.com/book/12", u"?page=2", u"http://x.com/book/12?page=2"},
        {u"http://x.com/a/456.html#top", u"?page=2#end", u"http://x.com/a/456.html?page=2#end"},
    };
    ExpectResolved(std::begin(cases), std::end(cases));
}

// The examples of RFC 3986 section 5.4, on its base. ResolveReference gives what the RFC
// gives (an empty path written "/"; "g:h" is no address libcurl reads); CompleteUrl differs
// only by its own rules: an empty link stays empty and a link that climbs above the root is
// emptied.
TEST(ResolveReference, ReferenceExamplesOfTheStandard) {
    const std::u16string_view base = u"http://a/b/c/d;p?q";
    struct Example {
        const char16_t* reference;
        const char16_t* resolved;
        const char16_t* completed;
    };
    const Example examples[] = {
        {u"g", u"http://a/b/c/g", u"http://a/b/c/g"},
        {u"./g", u"http://a/b/c/g", u"http://a/b/c/g"},
        {u"g/", u"http://a/b/c/g/", u"http://a/b/c/g/"},
        {u"/g", u"http://a/g", u"http://a/g"},
        {u"//g", u"http://g/", u"http://g/"},
        {u"?y", u"http://a/b/c/d;p?y", u"http://a/b/c/d;p?y"},
        {u"g?y", u"http://a/b/c/g?y", u"http://a/b/c/g?y"},
        {u"#s", u"http://a/b/c/d;p?q#s", u"http://a/b/c/d;p?q#s"},
        {u"g#s", u"http://a/b/c/g#s", u"http://a/b/c/g#s"},
        {u"g?y#s", u"http://a/b/c/g?y#s", u"http://a/b/c/g?y#s"},
        {u";x", u"http://a/b/c/;x", u"http://a/b/c/;x"},
        {u"g;x?y#s", u"http://a/b/c/g;x?y#s", u"http://a/b/c/g;x?y#s"},
        {u"", u"http://a/b/c/d;p?q", u""},
        {u".", u"http://a/b/c/", u"http://a/b/c/"},
        {u"..", u"http://a/b/", u"http://a/b/"},
        {u"../g", u"http://a/b/g", u"http://a/b/g"},
        {u"../..", u"http://a/", u"http://a/"},
        {u"../../g", u"http://a/g", u"http://a/g"},
        {u"../../../g", u"http://a/g", u""},
        {u"../../../../g", u"http://a/g", u""},
        {u"/./g", u"http://a/g", u"http://a/g"},
        {u"/../g", u"http://a/g", u""},
        {u"g.", u"http://a/b/c/g.", u"http://a/b/c/g."},
        {u"..g", u"http://a/b/c/..g", u"http://a/b/c/..g"},
        {u"./../g", u"http://a/b/g", u"http://a/b/g"},
        {u"./g/.", u"http://a/b/c/g/", u"http://a/b/c/g/"},
        {u"g/../h", u"http://a/b/c/h", u"http://a/b/c/h"},
        {u"g;x=1/../y", u"http://a/b/c/y", u"http://a/b/c/y"},
        {u"g/../../..", u"http://a/", u"http://a/"},
        {u"g?y/../x", u"http://a/b/c/g?y/../x", u"http://a/b/c/g?y/../x"},
        {u"g#s/../x", u"http://a/b/c/g#s/../x", u"http://a/b/c/g#s/../x"},
        {u"g:h", u"", u""},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(WideToUtf8(example.reference));
        EXPECT_EQ(WideToUtf8(ResolveReference(base, example.reference)),
                  WideToUtf8(example.resolved));
        std::u16string link = example.reference;
        CompleteUrl(base, link);
        EXPECT_EQ(WideToUtf8(link), WideToUtf8(example.completed));
    }
    EXPECT_EQ(ResolveReference(u"FTP://a/b/", u"g"), u"ftp://a/b/g");
    EXPECT_EQ(ResolveReference(u"b/c", u"g"), u"");
}

} // namespace
} // namespace velunor
