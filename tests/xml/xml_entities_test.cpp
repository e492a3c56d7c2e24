#include "xml/xml_document.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

TEST(XmlEntities, DecodesReferences) {
    struct Case {
        const char16_t* text;
        const char16_t* decoded;
    };
    const Case cases[] = {
        {u"&#65;&#x41;&#X41;", u"AAA"},
        {u"&#0;&;&abcdefghij;", u"&#0;&;&abcdefghij;"},
        {u"&#x1F600;", u"\U0001F600"},
        {u"&#x110000;&#-5;&#;", u"&#x110000;&#-5;&#;"},
        {u"&Aacute;&aacute;&AACUTE;", u"\u00C1\u00E1\u00C1"},
        {u"&DAGGER;&dagger;&Dagger;", u"\u2021\u2020\u2021"},
        {u"&AMP;&Nbsp;&apos;&euro;&hearts;", u"&\u00A0'\u20AC\u2665"},
        {u"&amp &unknown; &中;", u"&amp &unknown; &中;"},
        {u"a&&amp;b", u"a&&b"},
        {u"&thetasym;&alefsym;", u"\u03D1\u2135"},
        {u"tail&", u"tail&"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CXmlDocument::DecodeEntities(c.text), c.decoded);
    }
    std::u16string nbsp = u"&nbsp;";
    EXPECT_EQ(CXmlDocument::DecodeEntities(std::u16string_view(nbsp).substr(0, 5)), u"&nbsp")
        << "the length bounds the scan";
}

TEST(XmlEntities, EncodesForTextAndAttributes) {
    const std::u16string raw = u"a&b<c>\"d'&amp;&#20013;&x";
    EXPECT_EQ(CXmlDocument::EncodeEntities(raw, CXmlDocument::kEncodeText),
              u"a&amp;b&lt;c&gt;\"d'&amp;amp;&amp;#20013;&amp;x");
    EXPECT_EQ(CXmlDocument::EncodeEntities(raw, CXmlDocument::kEncodeAttribute),
              u"a&amp;b&lt;c&gt;&quot;d&apos;&amp;amp;&amp;#20013;&amp;x");
    EXPECT_EQ(CXmlDocument::EncodeEntities(raw, CXmlDocument::kEncodeText |
                                                    CXmlDocument::kKeepReferences),
              u"a&amp;b&lt;c&gt;\"d'&amp;&#20013;&amp;x");
}

TEST(XmlEntities, EncodeThenDecodeRestoresAnyText) {
    const std::u16string text = u"&lt; <tag a=\"1\"> 'q' &amp;amp; 中文 \U0001F600";
    for (uint32_t mode : {CXmlDocument::kEncodeText, CXmlDocument::kEncodeAttribute}) {
        EXPECT_EQ(CXmlDocument::DecodeEntities(CXmlDocument::EncodeEntities(text, mode)), text);
    }
}

} // namespace
} // namespace velunor
