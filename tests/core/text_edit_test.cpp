#include "core/core.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

TEST(ReplaceAll, ReplacesEveryOccurrenceExactlyOnce) {
    std::u16string page =
        u"<a href=\"{NextChapterUrl}\"></a>{nextchapterurl}<a href=\"{NextChapterUrl}\">";
    ReplaceAll(page, u"{NextChapterUrl}", u"2.html");
    EXPECT_EQ(page, u"<a href=\"2.html\"></a>{nextchapterurl}<a href=\"2.html\">");
    // A value holding the placeholder is not replaced again.
    std::u16string recursive = u"{ChapterName}|{ChapterName}";
    ReplaceAll(recursive, u"{ChapterName}", u"[{ChapterName}]");
    EXPECT_EQ(recursive, u"[{ChapterName}]|[{ChapterName}]");
    std::u16string unchanged = u"text";
    ReplaceAll(unchanged, u"", u"x");
    EXPECT_EQ(unchanged, u"text");
}

} // namespace
} // namespace velunor
