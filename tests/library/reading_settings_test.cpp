#include "library/reading_settings.h"
#include "library/shelf_settings.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velunor {
namespace {

using testing::TempFolder;

class ReadingSettingsFile : public ::testing::Test {
  protected:
    TempFolder temp_;
    const std::u16string program_ = temp_.WidePath() + u"/";

    void WriteSettings(const std::string& root) {
        std::filesystem::create_directories(temp_.File("Config"));
        temp_.Write("Config/ReadingSettings.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + root);
    }
};

TEST_F(ReadingSettingsFile, MissingOrDamagedFileGivesTheDefaults) {
    EXPECT_EQ(LoadReadingSettings(program_), ReadingSettings{});
    // Cut off in the middle of a save by another program: nothing of it is trusted.
    WriteSettings("<ReadingSettings>\r\n<FontSize>30</FontSize>\r\n<Theme>night</The");
    EXPECT_EQ(LoadReadingSettings(program_), ReadingSettings{});
    WriteSettings("");
    EXPECT_EQ(LoadReadingSettings(program_), ReadingSettings{});
}

TEST_F(ReadingSettingsFile, EachFieldIsReadOnItsOwnAndKeptInItsRange) {
    WriteSettings("<ReadingSettings><Zoom>9999</Zoom><Theme>night</Theme>"
                  "<LineSpacing>12a</LineSpacing><FontSize>3</FontSize></ReadingSettings>");
    const ReadingSettings settings = LoadReadingSettings(program_);
    EXPECT_EQ(settings.FontSize, kMinReadingFontSize);
    EXPECT_EQ(settings.LineSpacing, ReadingSettings{}.LineSpacing);
    EXPECT_EQ(settings.Theme, ReadingTheme::Night);
    EXPECT_EQ(settings.ZoomPercent, kMaxZoomPercent);

    WriteSettings("<ReadingSettings><Theme>purple</Theme><FontSize>-5</FontSize>"
                  "<LineSpacing>250</LineSpacing></ReadingSettings>");
    const ReadingSettings odd = LoadReadingSettings(program_);
    EXPECT_EQ(odd.Theme, ReadingSettings{}.Theme);
    EXPECT_EQ(odd.FontSize, ReadingSettings{}.FontSize);
    EXPECT_EQ(odd.LineSpacing, 250);
    EXPECT_EQ(odd.ZoomPercent, 100);
}

TEST_F(ReadingSettingsFile, SavedSettingsReadBackInAFreshProgramFolder) {
    for (ReadingTheme theme : {ReadingTheme::Day, ReadingTheme::Sepia, ReadingTheme::Night}) {
        const ReadingSettings saved{24, 215, theme, 125};
        ASSERT_TRUE(SaveReadingSettings(program_, saved));
        EXPECT_EQ(LoadReadingSettings(program_), saved);
    }
    // What cannot be shown is not written either.
    ASSERT_TRUE(SaveReadingSettings(program_, {500, 5, ReadingTheme::Day, 1}));
    const ReadingSettings kept = LoadReadingSettings(program_);
    EXPECT_EQ(kept.FontSize, kMaxReadingFontSize);
    EXPECT_EQ(kept.LineSpacing, kMinLineSpacing);
    EXPECT_EQ(kept.ZoomPercent, kMinZoomPercent);
    EXPECT_NE(temp_.Read("Config/ReadingSettings.xml").find("<Theme>day</Theme>"),
              std::string::npos);
}

TEST_F(ReadingSettingsFile, SaveFailsWhereConfigCannotBeAFolder) {
    temp_.Write("Config", "a file where the folder should be");
    EXPECT_FALSE(SaveReadingSettings(program_, ReadingSettings{}));
    EXPECT_EQ(temp_.Read("Config"), "a file where the folder should be");
}

// The shelf's switches share the settings folder and its rules: each field on its own, anything
// but 0 or 1 the default, a save read back whole.
TEST_F(ReadingSettingsFile, ShelfSwitchesReadBackAndOddValuesKeepTheirDefaults) {
    EXPECT_EQ(LoadShelfSettings(program_), ShelfSettings{});
    for (bool atStart : {false, true}) {
        for (bool newFirst : {false, true}) {
            ASSERT_TRUE(SaveShelfSettings(program_, {atStart, newFirst}));
            EXPECT_EQ(LoadShelfSettings(program_), (ShelfSettings{atStart, newFirst}));
        }
    }
    temp_.Write("Config/ShelfSettings.xml",
                "<?xml version=\"1.0\"?><ShelfSettings><NewChaptersFirst>0</NewChaptersFirst>"
                "<CheckUpdatesAtStart>yes</CheckUpdatesAtStart></ShelfSettings>");
    EXPECT_EQ(LoadShelfSettings(program_), (ShelfSettings{false, false}));
}

bool Holds(const std::u16string& css, std::u16string_view part) {
    return css.find(part) != std::u16string::npos;
}

TEST(ReadingStyleSheet, CarriesTheTextSizeLineSpacingAndIndent) {
    const std::u16string css = ReadingStyleSheet({24, 105, ReadingTheme::Sepia, 100});
    EXPECT_TRUE(Holds(css, u"font-size: 24px; line-height: 1.05;"));
    EXPECT_TRUE(Holds(css, u"text-indent: 2em"));
    EXPECT_TRUE(
        Holds(ReadingStyleSheet({20, 200, ReadingTheme::Sepia, 100}), u"line-height: 2.00;"));
    // A value from outside its range is shown at the nearest end of it.
    EXPECT_TRUE(
        Holds(ReadingStyleSheet({1000, 190, ReadingTheme::Sepia, 100}), u"font-size: 48px;"));
}

TEST(ReadingStyleSheet, ThemesGiveThePageTheirOwnColours) {
    const std::u16string day = ReadingStyleSheet({20, 190, ReadingTheme::Day, 100});
    const std::u16string sepia = ReadingStyleSheet({20, 190, ReadingTheme::Sepia, 100});
    const std::u16string night = ReadingStyleSheet({20, 190, ReadingTheme::Night, 100});
    EXPECT_TRUE(Holds(day, u"html, body { background: #ffffff; color: #222222; }"));
    EXPECT_TRUE(Holds(sepia, u"html, body { background: #f5efe3; color: #2a2621; }"));
    EXPECT_TRUE(Holds(night, u"html, body { background: #1c1d1f; color: #a9a7a1; }"));
    // The contents table's white cells would glare on a dark page.
    EXPECT_TRUE(Holds(night, u"table.contents td { background: #222427; }"));
}

TEST(ZoomSteps, GoToTheNeighbouringStepAndStopAtTheEnds) {
    struct Case {
        int from;
        int in;
        int out;
    };
    for (const Case& c : {Case{100, 110, 90}, Case{25, 33, 25}, Case{500, 500, 400},
                          Case{105, 110, 100}, Case{10, 25, 25}, Case{900, 500, 500}}) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(ZoomedIn(c.from), c.in);
        EXPECT_EQ(ZoomedOut(c.from), c.out);
    }
}

} // namespace
} // namespace velunor
