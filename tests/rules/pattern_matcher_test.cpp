#include "rules/internal/pattern_matcher.h"

#include <gtest/gtest.h>

#include <chrono>

namespace velunor::internal {
namespace {

std::vector<std::string> Texts(const MatchGroups& groups) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < groups.size(); ++i) {
        texts.push_back(groups[i]);
    }
    return texts;
}

using Texts_ = std::vector<std::string>;

TEST(MatchFirst, ReturnsTheFirstMatchAndItsGroups) {
    MatchGroups groups;
    ASSERT_TRUE(MatchFirst("x=1;y=2;", "(\\w)=(\\d)", groups));
    EXPECT_EQ(Texts(groups), (Texts_{"x=1", "x", "1"}));
    EXPECT_FALSE(MatchFirst("abc", "z", groups));
    EXPECT_TRUE(groups.empty());
}

TEST(MatchFirst, GroupsAboveTheLastOneTakingPartAreAbsent) {
    MatchGroups groups;
    ASSERT_TRUE(MatchFirst("a", "(a)(b)?", groups));
    EXPECT_EQ(groups.size(), 2u);
    ASSERT_TRUE(MatchFirst("b", "(a)?(b)", groups));
    EXPECT_EQ(Texts(groups), (Texts_{"b", "", "b"}));
    EXPECT_FALSE(groups.TookPart(1));
    EXPECT_TRUE(groups.TookPart(2));
    ASSERT_TRUE(MatchFirst("ab", "a()b", groups));
    EXPECT_TRUE(groups.TookPart(1));
    EXPECT_EQ(groups[1], "");
}

TEST(MatchFirst, BadPatternFindsNothing) {
    MatchGroups groups;
    EXPECT_FALSE(MatchFirst("abc", "(a", groups));
    EXPECT_FALSE(MatchFirst("abc", "", groups) && groups.TookPart(1));
}

TEST(MatchFirst, DotCrossesLineBreaksAndAnchorsMatchAtLines) {
    MatchGroups groups;
    ASSERT_TRUE(MatchFirst("<p>one\r\ntwo</p>", "<p>(.*?)</p>", groups));
    EXPECT_EQ(groups[1], "one\r\ntwo");
    ASSERT_TRUE(MatchFirst("first\nsecond", "^(sec\\w+)$", groups));
    EXPECT_EQ(groups[1], "second");
}

TEST(MatchFirst, MatchesDoubleByteTextByteForByteAndCaseSensitively) {
    MatchGroups groups;
    // "作者：" then a name, in GBK; \w never matches a byte of a double-byte character.
    std::string page = "\xD7\xF7\xD5\xDF\xA3\xBA\xCC\xC6\xBC\xD2 Tang";
    ASSERT_TRUE(MatchFirst(page, "\xD7\xF7\xD5\xDF\xA3\xBA(.*?) ", groups));
    EXPECT_EQ(groups[1], "\xCC\xC6\xBC\xD2");
    EXPECT_FALSE(MatchFirst(page, "(\\w\\w) ", groups));
    EXPECT_FALSE(MatchFirst(page, "(tang)", groups));
}

TEST(MatchFirst, SubjectEndsAtItsFirstNul) {
    MatchGroups groups;
    EXPECT_FALSE(MatchFirst(std::string("ab\0cd", 5), "(cd)", groups));
}

TEST(MatchAll, NumbersMatchesInOrderWithTheirOwnGroupCounts) {
    std::map<int, MatchGroups> matches;
    ASSERT_TRUE(MatchAll("aab", "(a)(b)?", matches));
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(Texts(matches[0]), (Texts_{"a", "a"}));
    EXPECT_EQ(Texts(matches[1]), (Texts_{"ab", "a", "b"}));
}

TEST(MatchAll, EachSearchStartsAfreshWhereTheLastEnded) {
    std::map<int, MatchGroups> matches;
    ASSERT_TRUE(MatchAll("xxx", "^x", matches));
    EXPECT_EQ(matches.size(), 3u);
    // A lookbehind cannot see the text before the new start.
    ASSERT_TRUE(MatchAll("aa", "(?<!a)a", matches));
    EXPECT_EQ(matches.size(), 2u);
}

TEST(MatchAll, EmptyMatchesMoveOnAndEnd) {
    std::map<int, MatchGroups> matches;
    ASSERT_TRUE(MatchAll("abc", "(x?)", matches));
    EXPECT_EQ(matches.size(), 4u); // before a, b, c and at the end
    ASSERT_TRUE(MatchAll("a1b22", "(\\d*)", matches));
    std::vector<std::string> groupOnes;
    for (auto& [number, groups] : matches) {
        groupOnes.push_back(groups[1]);
    }
    EXPECT_EQ(groupOnes, (Texts_{"", "1", "", "22", ""}));
}

TEST(MatchAll, NothingFoundOrBadPattern) {
    std::map<int, MatchGroups> matches;
    EXPECT_FALSE(MatchAll("abc", "z", matches));
    EXPECT_FALSE(MatchAll("abc", "[", matches));
    EXPECT_TRUE(matches.empty());
}

TEST(SplitByPattern, PiecesBetweenDelimiters) {
    struct Case {
        std::string subject;
        Texts_ pieces;
        bool found;
    };
    const Case cases[] = {
        {"a|b|c", {"a", "b", "c"}, true},
        {"|a", {"", "a"}, true},
        {"a||b", {"a", "", "b"}, true},
        {"a|b|", {"a", "b"}, true},
        {"abc", {"abc"}, true},
        {"", {}, false},
        {"|", {""}, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> pieces;
        EXPECT_EQ(SplitByPattern(c.subject, "\\|", pieces), c.found) << c.subject;
        EXPECT_EQ(pieces, c.pieces) << c.subject;
    }
}

TEST(SplitByPattern, EmptyMatchesSplitNothingAndEnd) {
    std::vector<std::string> pieces;
    ASSERT_TRUE(SplitByPattern("a1b", "\\d*", pieces));
    EXPECT_EQ(pieces, (Texts_{"a", "b"}));
    ASSERT_TRUE(SplitByPattern("abc", "", pieces));
    EXPECT_EQ(pieces, (Texts_{"abc"}));
}

TEST(RemoveMatches, DeletesEachWholeMatchOnce) {
    EXPECT_EQ(RemoveMatches("a<b>x</b>c<b>y</b>d", "<(b)>.*?</\\1>"), "acd");
    EXPECT_EQ(RemoveMatches("keep", "zzz"), "keep");
    EXPECT_EQ(RemoveMatches("keep", "(bad"), "keep");
    EXPECT_EQ(RemoveMatches("xx", "x"), "");
}

TEST(RemoveMatches, DotDoesNotCrossLineBreaks) {
    EXPECT_EQ(RemoveMatches("ad one\nline two", "ad.*two"), "ad one\nline two");
    EXPECT_EQ(RemoveMatches("ad one\nline two", "ad.*"), "\nline two");
}

// A budget with more time than any test takes and captures of at most `maxCaptureBytes`.
MatchBudget CaptureBudget(size_t maxCaptureBytes) {
    return MatchBudget(std::chrono::hours(1), maxCaptureBytes);
}

TEST(MatchBudget, ACaptureTooLongForTheBudgetEndsItInsteadOfBeingCut) {
    MatchGroups groups;
    MatchBudget budget = CaptureBudget(5);
    ASSERT_TRUE(MatchFirst("<abc>", "<(\\w*)>", groups, &budget));
    EXPECT_EQ(Texts(groups), (Texts_{"<abc>", "abc"}));
    EXPECT_FALSE(MatchFirst("<abcd>", "<(\\w*)>", groups, &budget));
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(budget.Problem(), MatchProblem::CaptureTooLarge);
    // Every later match on the same budget finds nothing.
    EXPECT_FALSE(MatchFirst("<a>", "<(\\w*)>", groups, &budget));

    // A list whose third match is too long gives no list at all, not its first two entries.
    MatchBudget listBudget = CaptureBudget(5);
    std::map<int, MatchGroups> matches;
    EXPECT_FALSE(MatchAll("<a><b><cdefgh>", "<(\\w*)>", matches, &listBudget));
    EXPECT_TRUE(matches.empty());
    EXPECT_EQ(listBudget.Problem(), MatchProblem::CaptureTooLarge);
}

TEST(MatchBudget, NoTimeLeftFindsNothingAnywhere) {
    MatchBudget budget(std::chrono::nanoseconds(0), 100);
    MatchGroups groups;
    EXPECT_FALSE(MatchFirst("abc", "(b)", groups, &budget));
    EXPECT_EQ(budget.Problem(), MatchProblem::OutOfTime);
    std::map<int, MatchGroups> matches;
    EXPECT_FALSE(MatchAll("abc", "(b)", matches, &budget));
    std::vector<std::string> pieces;
    EXPECT_FALSE(SplitByPattern("a|b", "\\|", pieces, &budget));
    EXPECT_TRUE(pieces.empty());
    EXPECT_EQ(RemoveMatches("a|b", "\\|", &budget), "a|b");
    // The reason stays the first one.
    budget.Stop(MatchProblem::TooManyMatches);
    EXPECT_EQ(budget.Problem(), MatchProblem::OutOfTime);
}

TEST(MatchBudget, StartOfPatternSettingsStillWork) {
    // The budget's check goes in front of the pattern's first item, behind such settings:
    // in front of them they would no longer compile.
    MatchBudget budget = CaptureBudget(100);
    MatchGroups groups;
    EXPECT_FALSE(MatchFirst("a\r\nb\r\n", "^(b)$", groups, &budget));
    ASSERT_TRUE(MatchFirst("a\r\nb\r\n", "(*CRLF)(*LIMIT_MATCH=1000)^(b)$", groups, &budget));
    EXPECT_EQ(groups[1], "b");
    ASSERT_TRUE(MatchFirst("ab", "(*MARK:m)a(b)", groups, &budget));
    EXPECT_EQ(groups[1], "b");
    EXPECT_EQ(RemoveMatches("b\r\na\r\n", "(*CRLF)a$", &budget), "b\r\n\r\n");
}

} // namespace
} // namespace velunor::internal
