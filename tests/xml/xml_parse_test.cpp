#include "core/core.h"
#include "tests/xml/index_checks.h"
#include "xml/internal/element_index.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

using internal::kMarkErrorInside;
using internal::kMarkNotWellFormed;
using internal::kMarkUnended;

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// Every parse must leave a sound index, whatever the text.
::testing::AssertionResult Parsed(const CXmlDocument& document) {
    std::string problem = testing::CheckElementIndex(document);
    if (problem.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << problem;
}

TEST(XmlNavigation, ReadsTheOrdinaryRuleFileShape) {
    CXmlDocument document(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- rule -->\r\n"
                          u"<Channel>\r\n<SiteName>Site &amp; Co</SiteName>\r\n"
                          u"<SiteUrl>http://a.b/</SiteUrl>\r\n</Channel>\r\n");
    ASSERT_TRUE(Parsed(document));
    EXPECT_EQ(document.ResultLog(), u"");
    ASSERT_TRUE(document.FindElement(u"Channel"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement(u"SiteName"));
    EXPECT_EQ(document.GetElementText(), u"Site & Co");
    ASSERT_TRUE(document.FindElement(u"SiteUrl"));
    EXPECT_EQ(document.GetElementText(), u"http://a.b/");
    EXPECT_FALSE(document.FindElement(u"SiteName")) << "the search goes forward only";
    ASSERT_TRUE(document.LeaveElement());
    EXPECT_EQ(document.ReadTagName(document.Position().current), u"Channel");
    EXPECT_FALSE(document.LeaveElement());
    document.ResetPosition();
    ASSERT_TRUE(document.FindElement(nullptr));
    EXPECT_EQ(document.ReadTagName(document.Position().current), u"Channel");
}

TEST(XmlNavigation, FindElementStopsAtTheLastElementOfItsLevel) {
    CXmlDocument document(u"<r><a/><b/></r>");
    ASSERT_TRUE(document.FindElement());
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement());
    ASSERT_TRUE(document.FindElement());
    ElementPosition last = document.Position();
    EXPECT_FALSE(document.FindElement());
    EXPECT_EQ(document.Position().current, last.current);
    EXPECT_EQ(document.ReadTagName(last.current), u"b");
}

TEST(XmlNavigation, NamesMatchWholeNamesOnly) {
    struct Case {
        const char16_t* given;
        const char16_t* text;
        bool found;
    };
    const Case cases[] = {
        {u"Book", u"<Book/>", true},        {u"Book", u"<Book attr=\"x\"></Book>", true},
        {u"Book", u"<Book>t</Book>", true}, {u"Book", u"<BookShelf/>", false},
        {u"Book", u"<Boo/>", false},        {u"book", u"<Book/>", false},
        {u"Book/x", u"<Book/>", true},      {u"Book[1]", u"<Book/>", true},
        {u"Book x", u"<Book/>", true},      {u"/Book", u"<Book/>", false},
        {u"Bookx", u"<Book/>", false},
    };
    for (const Case& c : cases) {
        CXmlDocument document(c.text);
        EXPECT_EQ(document.FindElement(c.given), c.found)
            << Narrow(c.given) << " in " << Narrow(c.text);
    }
}

TEST(XmlNavigation, LoopOfFindElementVisitsEveryMatchOnce) {
    CXmlDocument document(u"<s><Book>1</Book><Other/><Book>2</Book><Book/></s>");
    document.FindElement();
    document.EnterElement();
    std::u16string seen;
    while (document.FindElement(u"Book")) {
        seen += document.GetElementText() + u",";
    }
    EXPECT_EQ(seen, u"1,2,,");
}

TEST(XmlNavigation, ChildSearchEnterAndLeave) {
    CXmlDocument document(u"<r><a><x/></a><b/></r>");
    EXPECT_FALSE(document.EnterElement()) << "no current element yet";
    EXPECT_FALSE(document.LeaveElement()) << "already at root level";
    // With no current element the first element of the level becomes current first.
    ASSERT_TRUE(document.FindChildElement(u"b"));
    EXPECT_EQ(document.ReadTagName(document.Position().current), u"r");
    EXPECT_EQ(document.ReadTagName(document.Position().child), u"b");
    EXPECT_FALSE(document.FindChildElement(u"a")) << "child search continues after b";
    // Entering after a child search continues the level after that child.
    document.ResetPosition();
    ASSERT_TRUE(document.FindChildElement(u"a"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement());
    EXPECT_EQ(document.ReadTagName(document.Position().current), u"b");
    ASSERT_TRUE(document.LeaveElement());
    EXPECT_EQ(document.Position().child,
              document.Position().current == 0 ? 0u : document.Position().child);
    EXPECT_EQ(document.ReadTagName(document.Position().current), u"r");
}

TEST(XmlNavigation, EmptyDocumentFailsEverything) {
    CXmlDocument document;
    EXPECT_FALSE(document.FindElement());
    EXPECT_FALSE(document.FindChildElement());
    EXPECT_EQ(document.GetElementText(), u"");
    EXPECT_EQ(document.ReadTagName(0), u"");
    EXPECT_EQ(document.ReadTagName(12345), u"");
}

TEST(XmlElementText, CutsTextOutOfLeafElements) {
    struct Case {
        const char16_t* text;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"<a>x &amp; y</a>", u"x & y"},
        {u"<a><![CDATA[<b>]]></a>", u"<b>"},
        {u"<a>p<!--c-->q</a>", u"pq"},
        {u"<a>p<?pi x?>q</a>", u"pq"},
        {u"<a>  <!--c-->  </a>", u""},
        {u"<a>  spaced  </a>", u"  spaced  "},
        {u"<a>1<![CDATA[&amp;]]>2&lt;</a>", u"1&amp;2<"},
        {u"<a><![CDATA[x]]]]><![CDATA[>y]]></a>", u"x]]>y"},
        {u"<a><b>t</b></a>", u""},
        {u"<a/>", u""},
        {u"<a></a>", u""},
        {u"<a x='>'>v</a>", u"v"},
    };
    for (const Case& c : cases) {
        CXmlDocument document(c.text);
        ASSERT_TRUE(document.FindElement()) << Narrow(c.text);
        EXPECT_EQ(document.GetElementText(), c.expected) << Narrow(c.text);
    }
}

struct MalformedCase {
    const char16_t* text;
    const char16_t* log;
    bool wellFormed;
};

class XmlMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(XmlMalformed, IndexesWhatItCanAndLogsWhatWasWrong) {
    CXmlDocument document;
    EXPECT_EQ(document.SetDocumentText(GetParam().text), GetParam().wellFormed);
    EXPECT_EQ(document.ResultLog(), GetParam().log);
    EXPECT_TRUE(Parsed(document));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlMalformed,
    ::testing::Values(
        MalformedCase{u"", u"", false}, MalformedCase{u" \r\n\t", u"<no_root_element/>", false},
        MalformedCase{u"just text", u"<no_root_element/>", false},
        MalformedCase{u"<a/><b/>", u"<root_has_sibling/>", false},
        MalformedCase{u"<a><b></a>",
                      u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>", false},
        MalformedCase{u"<a></b></a>", u"<lone_end_tag tagname=\"b\" offset=\"3\"/>", false},
        MalformedCase{u"<a><b><c>",
                      u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>"
                      u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"9\"/>"
                      u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"9\"/>"
                      u"<root_has_sibling/>",
                      false},
        MalformedCase{u"<a>< b</a>", u"<first_tag_syntax offset=\"3\"/>", false},
        MalformedCase{u"<a><1></a>", u"<first_tag_syntax offset=\"3\"/>", false},
        MalformedCase{u"<a><!x></a>", u"<exclamation_tag_syntax offset=\"3\"/>", false},
        MalformedCase{u"<a><!-x></a>", u"<comment_tag_syntax offset=\"3\"/>", false},
        MalformedCase{u"<a><![X[y]]></a>", u"<cdata_section_syntax offset=\"3\"/>", false},
        MalformedCase{u"<!DOCTYPE a [<!x>]><a/>", u"<doctype_tag_syntax offset=\"0\"/>", false},
        MalformedCase{u"<!DOCTYPE a [<!ENTITY e \"v>\"><!ATTLIST a b CDATA \"x\">]><a/>", u"",
                      true},
        MalformedCase{u"<a>x<",
                      u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"
                      u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"5\"/>",
                      false},
        MalformedCase{u"<a/><b x=\"y>",
                      u"<unterminated_tag_syntax type=\"start_tag\" offset=\"4\"/>", false},
        MalformedCase{u"<a/></a", u"<unterminated_tag_syntax type=\"end_tag\" offset=\"4\"/>",
                      false},
        MalformedCase{u"<a/><!--x", u"<unterminated_tag_syntax type=\"comment\" offset=\"4\"/>",
                      false},
        MalformedCase{u"<a/><![CDATA[x",
                      u"<unterminated_tag_syntax type=\"cdata_section\" offset=\"4\"/>", false},
        MalformedCase{u"<a/><?pi",
                      u"<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>",
                      false},
        MalformedCase{u"<!DOCTYPE a [<!ENTITY",
                      u"<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/>"
                      u"<no_root_element/>",
                      false},
        MalformedCase{u"<a/><!", u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>", false},
        MalformedCase{u"<a/>< x",
                      u"<first_tag_syntax offset=\"4\"/>"
                      u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>",
                      false},
        MalformedCase{u"<a x=b/><c/>",
                      u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"12\"/>"
                      u"<root_has_sibling/>",
                      false},
        MalformedCase{u"<a x=b /></a>", u"<lone_end_tag tagname=\"a\" offset=\"9\"/>", false},
        MalformedCase{u"<a x=\"/\">t</a>", u"", true}));

TEST(XmlParse, UnendedElementGivesItsChildrenToItsParent) {
    CXmlDocument document(u"<r><p><c1/><c2>t</c2></r>");
    ASSERT_TRUE(Parsed(document));
    ASSERT_TRUE(document.FindElement());
    ASSERT_TRUE(document.EnterElement());
    std::u16string names;
    while (document.FindElement()) {
        names += document.ReadTagName(document.Position().current) + u" ";
    }
    EXPECT_EQ(names, u"p c1 c2 ");
    const auto& index = document.Index();
    uint32_t p = index[index[0].firstChild].firstChild;
    EXPECT_TRUE(index[p].Has(kMarkUnended));
    EXPECT_EQ(index[p].length, 3u);
    EXPECT_TRUE(index[0].Has(kMarkNotWellFormed));
}

TEST(XmlParse, LoneEndTagMarksTheInnermostOpenElement) {
    CXmlDocument document(u"<r><a></x></a></r>");
    const auto& index = document.Index();
    uint32_t r = index[0].firstChild;
    uint32_t a = index[r].firstChild;
    EXPECT_TRUE(index[a].Has(kMarkErrorInside));
    EXPECT_FALSE(index[r].Has(kMarkErrorInside));
    EXPECT_EQ(index[a].length, 11u) << "a closes normally";
}

TEST(XmlParse, ErrorInsideAnUnendedElementMovesToItsParent) {
    CXmlDocument document(u"<r><a><1></r>");
    const auto& index = document.Index();
    uint32_t r = index[0].firstChild;
    EXPECT_TRUE(index[r].Has(kMarkErrorInside));
    EXPECT_FALSE(index[index[r].firstChild].Has(kMarkErrorInside));
}

TEST(XmlParse, BothRootsOfASecondRootAreReachable) {
    CXmlDocument document(u"<a>1</a>\r\n<b>2</b>");
    EXPECT_EQ(document.ResultLog(), u"<root_has_sibling/>");
    ASSERT_TRUE(document.FindElement(u"a"));
    ASSERT_TRUE(document.FindElement(u"b"));
    EXPECT_EQ(document.GetElementText(), u"2");
}

TEST(XmlParse, ResultLogStopsGrowingAtItsLimit) {
    std::u16string text = u"<r>";
    for (int i = 0; i < 200; ++i) {
        text += u"</x>";
    }
    text += u"</r>";
    CXmlDocument document(text);
    EXPECT_GE(document.ResultLog().size(), 1000u);
    EXPECT_LT(document.ResultLog().size(), 1100u);
    EXPECT_TRUE(document.FindElement(u"r"));
}

TEST(XmlParse, DeepAndWideDocumentsGrowTheIndexAcrossSegments) {
    std::u16string text = u"<r>";
    const int count = 200000;
    for (int i = 0; i < count; ++i) {
        text += u"<e/>";
    }
    text += u"</r>";
    CXmlDocument document(text);
    EXPECT_TRUE(Parsed(document));
    EXPECT_EQ(document.Index().NextFree(), static_cast<uint32_t>(count + 2));
    EXPECT_GE(document.Index().SegmentCount(), 4u);
    // Unended nesting deeper than the depth field can hold still links soundly.
    std::u16string deep;
    for (int i = 0; i < 70000; ++i) {
        deep += u"<d>";
    }
    CXmlDocument nested(deep);
    EXPECT_TRUE(Parsed(nested));
}

TEST(XmlParse, OverlongEndTagClosesNothing) {
    std::u16string text = u"<a></a" + std::u16string(2000, u' ') + u">";
    CXmlDocument document(text);
    EXPECT_TRUE(Parsed(document));
    EXPECT_NE(document.ResultLog().find(u"lone_end_tag"), std::u16string::npos);
}

TEST(XmlParse, EndTagsFindTheirStartTagBelowManyOpenTags) {
    // Deeper than the few open tags an end tag compares directly: the first </x> must find the
    // inner x below twenty b, the second the outer x below twenty a once the inner one is gone.
    auto repeated = [](const char16_t* tag, int count) {
        std::u16string text;
        for (int i = 0; i < count; ++i) {
            text += tag;
        }
        return text;
    };
    std::u16string text = u"<x>" + repeated(u"<a>", 20) + u"<x>" + repeated(u"<b>", 20);
    size_t loneEndTag = text.size();
    text += u"</y></x></x>";
    CXmlDocument document(text);
    ASSERT_TRUE(Parsed(document));
    auto offset = [](size_t value) { return DecimalText(static_cast<long long>(value)); };
    std::u16string expectedStart = u"<lone_end_tag tagname=\"y\" offset=\"" + offset(loneEndTag) +
                                   u"\"/><unended_start_tag tagname=\"b\" offset=\"" +
                                   offset(loneEndTag - 3) + u"\" offset2=\"" +
                                   offset(loneEndTag + 5) + u"\"/>";
    EXPECT_TRUE(document.ResultLog().starts_with(expectedStart)) << Narrow(document.ResultLog());
    const auto& index = document.Index();
    uint32_t outer = index[0].firstChild;
    EXPECT_EQ(index[outer].End(), text.size());
    EXPECT_EQ(index[outer].EndTagLength(), 4u);
    std::u16string children;
    uint32_t inner = 0;
    for (uint32_t child = index[outer].firstChild; child != 0; child = index[child].nextSibling) {
        children += document.ReadTagName(child);
        if (index[child].Has(kMarkUnended)) {
            children += u"~";
        } else {
            inner = child;
        }
    }
    EXPECT_EQ(children, repeated(u"a~", 20) + u"x");
    ASSERT_NE(inner, 0u);
    EXPECT_EQ(index[inner].End(), text.size() - 4);
    EXPECT_TRUE(index[inner].Has(kMarkErrorInside)) << "the lone </y> was met inside the b";
    std::u16string innerChildren;
    for (uint32_t child = index[inner].firstChild; child != 0; child = index[child].nextSibling) {
        innerChildren +=
            document.ReadTagName(child) + (index[child].Has(kMarkUnended) ? u"~" : u"");
    }
    EXPECT_EQ(innerChildren, repeated(u"b~", 20));
}

// Malformed input whose parse once grew with the square of its size; the benchmark of the XML
// parser shows that its cost now grows in proportion, these show what the parse makes of it.
TEST(XmlParseMalformed, EndTagsClosingNothingBelowManyUnendedTags) {
    // 120,000 unended <a>, each followed by an end tag that matches none of them.
    std::u16string text;
    for (int i = 0; i < 120000; ++i) {
        text += u"<a></b>";
    }
    CXmlDocument document;
    document.SetDocumentText(text);
    EXPECT_TRUE(document.ResultLog().starts_with(u"<lone_end_tag tagname=\"b\" offset=\"3\"/>"));
    EXPECT_EQ(document.Index().NextFree(), 120001u);
    EXPECT_TRUE(Parsed(document));
}

TEST(XmlParseMalformed, ClosingAroundUnendedTagsMovesEachSubtreeOnce) {
    // Each </w> unends the <z> inside it, whose content (everything parsed so far) moves up a
    // level: the depths of that content must not be rewritten at every level.
    const int levels = 30000;
    std::u16string text;
    for (int i = 0; i < levels; ++i) {
        text += u"<w><z>";
    }
    for (int i = 0; i < levels; ++i) {
        text += u"<c/>";
    }
    for (int i = 0; i < levels; ++i) {
        text += u"</w>";
    }
    CXmlDocument document;
    document.SetDocumentText(text);
    EXPECT_TRUE(Parsed(document)) << "depths must agree with the final tree";
    const auto& index = document.Index();
    uint32_t outer = index[0].firstChild;
    EXPECT_EQ(index[outer].End(), text.size());
    EXPECT_EQ(index[outer].nextSibling, 0u);
}

TEST(XmlParse, OffsetsCountUtf16CodeUnits) {
    CXmlDocument document(u"<r>\U0001F600<b></r>");
    EXPECT_EQ(document.ResultLog(),
              u"<unended_start_tag tagname=\"b\" offset=\"5\" offset2=\"9\"/>");
}

} // namespace
} // namespace velunor
