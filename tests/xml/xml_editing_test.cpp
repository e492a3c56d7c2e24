#include "tests/xml/index_checks.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

// An edited index must be sound and, for well-formed text, equal to a fresh parse of the text.
::testing::AssertionResult MatchesReparse(const CXmlDocument& edited) {
    std::string problem = testing::CheckElementIndex(edited);
    if (!problem.empty()) {
        return ::testing::AssertionFailure() << problem;
    }
    CXmlDocument fresh(edited.GetDocumentText());
    if (testing::DescribeElements(fresh) != testing::DescribeElements(edited)) {
        return ::testing::AssertionFailure() << "index differs from a reparse";
    }
    return ::testing::AssertionSuccess();
}

TEST(XmlEditing, SetElementTextOpensEmptyTagsAndEscapes) {
    struct Case {
        const char16_t* before;
        const char16_t* after;
    };
    const Case cases[] = {
        {u"<r><Selected/></r>", u"<r><Selected>a &amp;amp; &lt;b&gt;</Selected></r>"},
        {u"<r><Selected /></r>", u"<r><Selected >a &amp;amp; &lt;b&gt;</Selected></r>"},
        {u"<r><Selected>old</Selected></r>", u"<r><Selected>a &amp;amp; &lt;b&gt;</Selected></r>"},
        {u"<r><Selected x=\"1\"></Selected></r>",
         u"<r><Selected x=\"1\">a &amp;amp; &lt;b&gt;</Selected></r>"},
    };
    for (const Case& c : cases) {
        CXmlDocument document(c.before);
        document.FindElement();
        document.EnterElement();
        ASSERT_TRUE(document.FindElement(u"Selected"));
        ASSERT_TRUE(document.SetElementText(u"a &amp; <b>"));
        EXPECT_EQ(document.GetDocumentText(), c.after);
        EXPECT_EQ(document.GetElementText(), u"a &amp; <b>");
        EXPECT_TRUE(MatchesReparse(document));
    }
}

TEST(XmlEditing, SetElementTextRefusesElementsWithChildren) {
    CXmlDocument document(u"<r><a/></r>");
    EXPECT_FALSE(document.SetElementText(u"x")) << "no current element";
    document.FindElement();
    EXPECT_FALSE(document.SetElementText(u"x"));
    EXPECT_EQ(document.GetDocumentText(), u"<r><a/></r>");
}

TEST(XmlEditing, SetElementTextClosesAnUnendedElement) {
    CXmlDocument document(u"<r><a><b/></r>");
    document.FindElement();
    document.EnterElement();
    ASSERT_TRUE(document.FindElement(u"a"));
    ASSERT_TRUE(document.SetElementText(u"t"));
    EXPECT_EQ(document.GetDocumentText(), u"<r><a>t</a><b/></r>");
    EXPECT_TRUE(testing::CheckElementIndex(document).empty());
    ASSERT_TRUE(document.FindElement(u"b")) << "b stays a sibling";
}

TEST(XmlEditing, AppendsRecordsTheWayTheBookshelfDoes) {
    CXmlDocument document(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    ASSERT_TRUE(document.AddElement(u"BookShelf"));
    EXPECT_EQ(document.GetDocumentText(),
              u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf/>\r\n");
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.AddElement(u"Book"));
    EXPECT_EQ(document.GetDocumentText(),
              u"<?xml version=\"1.0\" "
              u"encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book/>\r\n</BookShelf>\r\n");
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.AddElement(u"Name", u"斗破 & 苍穹"));
    ASSERT_TRUE(document.AddElement(u"Path", u"Novel/a"));
    ASSERT_TRUE(document.LeaveElement());
    ASSERT_TRUE(document.AddElement(u"Book", u"x"));
    EXPECT_EQ(document.GetDocumentText(),
              u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n"
              u"<Name>斗破 &amp; 苍穹</Name>\r\n<Path>Novel/a</Path>\r\n</Book>\r\n"
              u"<Book>x</Book>\r\n</BookShelf>\r\n");
    EXPECT_TRUE(MatchesReparse(document));
    // Navigation from the top still finds every field.
    document.ResetPosition();
    ASSERT_TRUE(document.FindElement(u"BookShelf"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement(u"Book"));
    ASSERT_TRUE(document.FindChildElement(u"Path"));
    ASSERT_TRUE(document.EnterElement());
    EXPECT_EQ(document.GetElementText(), u"Novel/a");
}

TEST(XmlEditing, AddElementOptions) {
    struct Case {
        uint32_t options;
        const char16_t* value;
        const char16_t* after;
    };
    const Case cases[] = {
        {CXmlDocument::kAddNoLineBreak, u"", u"<r>\r\n<a/>\r\n<n/><b/>\r\n</r>"},
        {CXmlDocument::kAddSpaceBeforeSlash, u"", u"<r>\r\n<a/>\r\n<n />\r\n<b/>\r\n</r>"},
        {CXmlDocument::kAddCData, u"x]]>y",
         u"<r>\r\n<a/>\r\n<n><![CDATA[x]]]]><![CDATA[>y]]></n>\r\n<b/>\r\n</r>"},
        {CXmlDocument::kAddBefore, u"v", u"<r>\r\n<n>v</n>\r\n<a/>\r\n<b/>\r\n</r>"},
        {CXmlDocument::kAddAsChild, u"v", u"<r>\r\n<a>\r\n<n>v</n>\r\n</a>\r\n<b/>\r\n</r>"},
        {CXmlDocument::kAddStartTagOnly, u"", u"<r>\r\n<a/>\r\n<n>\r\n<b/>\r\n</r>"},
    };
    for (const Case& c : cases) {
        CXmlDocument document(u"<r>\r\n<a/>\r\n<b/>\r\n</r>");
        document.FindElement();
        document.EnterElement();
        document.FindElement(u"a");
        ASSERT_TRUE(document.AddElement(u"n", c.value, c.options));
        EXPECT_EQ(document.GetDocumentText(), c.after) << c.options;
        if ((c.options & CXmlDocument::kAddStartTagOnly) == 0) {
            EXPECT_TRUE(MatchesReparse(document)) << c.options;
        } else {
            EXPECT_TRUE(testing::CheckElementIndex(document).empty());
        }
    }
}

TEST(XmlEditing, AddElementRefusesNamesThatWouldBreakTheText) {
    CXmlDocument document(u"<r/>");
    for (const char16_t* name : {u"", u"a b", u"a>", u"1a", u"a/b", u"<a"}) {
        EXPECT_FALSE(document.AddElement(name, u"v"));
    }
    EXPECT_FALSE(document.AddElement(nullptr));
    EXPECT_FALSE(document.AddElement(std::u16string(1100, u'a').c_str()));
    EXPECT_EQ(document.GetDocumentText(), u"<r/>");
}

TEST(XmlEditing, RemoveFirstOfThreeSiblings) {
    CXmlDocument document(u"<r>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>");
    document.FindElement();
    document.EnterElement();
    ASSERT_TRUE(document.FindElement(u"a"));
    ASSERT_TRUE(document.RemoveElement());
    EXPECT_EQ(document.Position().current, 0u);
    EXPECT_EQ(document.GetDocumentText(), u"<r>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>");
    ASSERT_TRUE(document.FindElement());
    EXPECT_EQ(document.GetElementText(), u"2");
    EXPECT_TRUE(MatchesReparse(document));
}

TEST(XmlEditing, RemoveWithChildrenAndInTheMiddleKeepsLaterNavigation) {
    CXmlDocument document(u"<r><a><x/><y/></a>text<b/><c>3</c></r>");
    document.FindElement();
    document.EnterElement();
    ASSERT_TRUE(document.FindElement(u"a"));
    ASSERT_TRUE(document.RemoveElement());
    EXPECT_EQ(document.GetDocumentText(), u"<r>text<b/><c>3</c></r>") << "text after it stays";
    ASSERT_TRUE(document.FindElement(u"b"));
    ASSERT_TRUE(document.RemoveElement());
    EXPECT_EQ(document.Position().current, 0u) << "b had become the first child";
    ASSERT_TRUE(document.FindElement(u"c"));
    EXPECT_EQ(document.GetElementText(), u"3");
    ASSERT_TRUE(document.RemoveElement());
    EXPECT_EQ(document.GetDocumentText(), u"<r>text</r>");
    EXPECT_TRUE(MatchesReparse(document));
    EXPECT_NE(document.Index().DeletedHead(), 0u);
    EXPECT_FALSE(document.RemoveElement()) << "nothing current after removing the first child";
}

TEST(XmlEditing, SetAttributeReplacesOrAdds) {
    struct Case {
        const char16_t* before;
        const char16_t* after;
    };
    const Case cases[] = {
        {u"<a/>", u"<a k=\"&quot;v&apos;&amp;\"/>"},
        {u"<a x='1' k='old'>t</a>", u"<a x='1' k=\"&quot;v&apos;&amp;\">t</a>"},
        {u"<a k=old x=1>t</a>", u"<a k=\"&quot;v&apos;&amp;\" x=1>t</a>"},
        {u"<a k>t</a>", u"<a k=\"&quot;v&apos;&amp;\">t</a>"},
        {u"<a x=\"1\"  />", u"<a x=\"1\" k=\"&quot;v&apos;&amp;\"  />"},
        {u"<a =\"k>\">t</a>", u"<a =\"k>\" k=\"&quot;v&apos;&amp;\">t</a>"},
    };
    for (const Case& c : cases) {
        CXmlDocument document(c.before);
        document.FindElement();
        ASSERT_TRUE(document.SetAttribute(u"k", u"\"v'&"));
        EXPECT_EQ(document.GetDocumentText(), c.after);
        EXPECT_TRUE(testing::CheckElementIndex(document).empty());
    }
}

TEST(XmlEditing, EditsInsideLaterElementsKeepEarlierOnesValid) {
    CXmlDocument document(u"<r><a>1</a><b><c>2</c></b></r>");
    document.FindElement();
    document.EnterElement();
    document.FindElement(u"a");
    ASSERT_TRUE(document.SetElementText(u"a much longer text"));
    ASSERT_TRUE(document.SetAttribute(u"id", u"7"));
    ASSERT_TRUE(document.FindElement(u"b"));
    ASSERT_TRUE(document.FindChildElement(u"c"));
    ASSERT_TRUE(document.EnterElement());
    EXPECT_EQ(document.GetElementText(), u"2");
    EXPECT_TRUE(MatchesReparse(document));
}

} // namespace
} // namespace velunor
