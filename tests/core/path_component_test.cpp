#include "core/core.h"

#include <gtest/gtest.h>

#include <string>

namespace velunor {
namespace {

struct CleanCase {
    std::u16string name;
    std::u16string clean;
};

TEST(CleanPathComponent, MakesEveryNameOneHarmlessComponent) {
    const CleanCase cases[] = {
        {u"西游记", u"西游记"},
        {u"a.jpg", u"a.jpg"},
        {u"..", u"__"},
        {u".", u"_"},
        {u"", u"_"},
        {u"../../x", u".._.._x"},
        {u"a\\b", u"a_b"},
        {std::u16string(u"a\0b", 3), u"a_b"},
        {u"a\x01z\x1f\uFFFEz\uFFFF", u"a_z__z_"},
        {u"a\tz\x85z", u"a\tz\x85z"},
        {u"...txt", u"...txt"},
        {u"《第一卷》：序", u"《第一卷》：序"},
    };
    for (const CleanCase& c : cases) {
        EXPECT_EQ(CleanPathComponent(c.name), c.clean);
    }
}

TEST(CleanPathComponent, CutsLongNamesAtACharacterBoundary) {
    // 70 Chinese characters are 210 bytes of UTF-8: 66 of them fit in 200 bytes.
    std::u16string chinese(70, u'字');
    EXPECT_EQ(CleanPathComponent(chinese), std::u16string(66, u'字'));
    EXPECT_EQ(CleanPathComponent(std::u16string(300, u'a')), std::u16string(200, u'a'));
    // 50 characters outside the BMP are 200 bytes; one more does not split its pair.
    std::u16string astral;
    for (int i = 0; i < 51; ++i) {
        astral += u"😀";
    }
    std::u16string clean = CleanPathComponent(astral);
    EXPECT_EQ(clean.size(), 100u);
    EXPECT_EQ(WideToUtf8(clean).size(), 200u);
}

} // namespace
} // namespace velunor
