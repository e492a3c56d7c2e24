#include "search/search.h"

#include "search_fixture.h"
#include "support/test_site.h"
#include "support/xml_well_formed.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velunor {
namespace {

TEST(SiteSelection, MembershipComparesWholeEntries) {
    EXPECT_TRUE(IsSiteSelected(u"1,10,", 1));
    EXPECT_TRUE(IsSiteSelected(u"1,10,", 10));
    EXPECT_FALSE(IsSiteSelected(u"1,10,", 0));
    EXPECT_FALSE(IsSiteSelected(u"1,10,", 11));
    EXPECT_TRUE(IsSiteSelected(u"0,2", 2));
    EXPECT_FALSE(IsSiteSelected(u"", 0));
    EXPECT_FALSE(IsSiteSelected(u"12,", 2));
}

TEST(SiteSelection, FormatsAscendingWithFinalCommas) {
    EXPECT_EQ(FormatSiteSelection({true, false, true, false, false, true}), u"0,2,5,");
    EXPECT_EQ(FormatSiteSelection({false, false}), u"");
}

class TargetSiteSelectModelTest : public testing::ProgramFolderTest {
  protected:
    std::u16string SelectionFile() {
        return ProgramFolder() + u"Config/TargetSiteSelect.xml";
    }

    void InstallRules(int count) {
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "site%02d.xml", i);
            temp_.Write(std::string("Rule/") + name, "<Channel><SiteName>站" + std::to_string(i) +
                                                         "</SiteName><SiteUrl>http://s" +
                                                         std::to_string(i) +
                                                         ".com</SiteUrl></Channel>");
        }
    }

    /// The checks a dialog opened now would show.
    std::vector<bool> StoredChecks() {
        CTargetSiteSelectModel model(ProgramFolder());
        model.Load();
        return Checks(model);
    }

    std::vector<bool> Checks(const CTargetSiteSelectModel& model) {
        std::vector<bool> checks;
        for (const auto& row : model.Rows()) {
            checks.push_back(row.checked);
        }
        return checks;
    }
};

TEST_F(TargetSiteSelectModelTest, RowsShowEveryRuleFileAndTheStoredChecks) {
    InstallRules(12);
    temp_.Write("Rule/broken.xml", "not a rule at all");
    WriteSelection("1,10,");
    CTargetSiteSelectModel model(ProgramFolder());
    model.Load();
    ASSERT_EQ(model.Rows().size(), 13u);
    EXPECT_EQ(model.Rows()[0].number, u"1");
    // The unreadable file still has its row, with empty name and address.
    EXPECT_EQ(model.Rows()[0].siteName, u"");
    EXPECT_EQ(model.Rows()[1].siteName, u"站0");
    EXPECT_EQ(model.Rows()[12].number, u"13");
    EXPECT_EQ(model.Rows()[12].siteUrl, u"http://s11.com");
    std::vector<bool> expected(13, false);
    expected[1] = true;
    expected[10] = true;
    EXPECT_EQ(Checks(model), expected);
}

TEST_F(TargetSiteSelectModelTest, InvertSelectAllConfirmAndCancel) {
    InstallRules(4);
    WriteSelection("0,2,");
    CTargetSiteSelectModel model(ProgramFolder());
    model.Load();
    model.Invert();
    EXPECT_EQ(Checks(model), (std::vector<bool>{false, true, false, true}));
    // Cancelling is leaving the model without Confirm: the file keeps its text.
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"0,2,");
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"1,3,");
    model.SelectAll();
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"0,1,2,3,");
    for (size_t i = 0; i < 4; ++i) {
        model.SetChecked(i, false);
    }
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"");
}

TEST_F(TargetSiteSelectModelTest, ConfirmCreatesAMissingFileOrElement) {
    InstallRules(3);
    CTargetSiteSelectModel model(ProgramFolder());
    model.Load();
    EXPECT_EQ(Checks(model), (std::vector<bool>{false, false, false}));
    model.SetChecked(2, true);
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"2,");

    temp_.Write("Config/TargetSiteSelect.xml",
                "<TargetSiteSelect><Other>x</Other></TargetSiteSelect>");
    model.SetChecked(0, true);
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"0,2,");
    EXPECT_NE(temp_.Read("Config/TargetSiteSelect.xml").find("<Other>x</Other>"),
              std::string::npos);
}

// Ticks follow the rule files, not their places: a file added in front or one removed leaves
// every other site ticked or not as it was, and the positions are written for the new list.
TEST_F(TargetSiteSelectModelTest, TicksStayWithTheirRuleFilesWhenFilesComeAndGo) {
    InstallRules(4);
    CTargetSiteSelectModel model(ProgramFolder());
    model.Load();
    model.SetChecked(1, true);
    model.SetChecked(3, true);
    ASSERT_TRUE(model.Confirm());
    temp_.Write("Rule/00-first.xml", "<Channel><SiteName>新站</SiteName></Channel>");
    model.Load();
    EXPECT_EQ(Checks(model), (std::vector<bool>{false, false, true, false, true}));
    EXPECT_EQ(model.Rows()[2].siteName, u"站1");
    std::filesystem::remove(temp_.File("Rule/site01.xml"));
    model.Load();
    EXPECT_EQ(Checks(model), (std::vector<bool>{false, false, false, true}));
    ASSERT_TRUE(model.Confirm());
    EXPECT_EQ(ReadSiteSelection(SelectionFile()), u"3,");
    EXPECT_NE(temp_.Read("Config/TargetSiteSelect.xml").find("<Rule>site03.xml</Rule>"),
              std::string::npos);
    // Nothing ticked is a choice too: the names decide, not the positions.
    for (size_t i = 0; i < model.Rows().size(); ++i) {
        model.SetChecked(i, false);
    }
    ASSERT_TRUE(model.Confirm());
    model.Load();
    EXPECT_EQ(Checks(model), (std::vector<bool>{false, false, false, false}));
    // A file written before the names were kept is read by its positions.
    WriteSelection("0,2,");
    model.Load();
    EXPECT_EQ(Checks(model), (std::vector<bool>{true, false, true, false}));
}

// A selection file that does not read back whole (cut short, not text at all, far too large) is
// never overwritten: the next confirmed choice moves it aside under a name that says so, tells
// the reader once where it went, and starts a sound file with the choice.
TEST_F(TargetSiteSelectModelTest, ADamagedFileIsKeptAsideAndNamedOnce) {
    InstallRules(3);
    struct Case {
        const char* label;
        std::string bytes;
    };
    const Case cases[] = {
        {"truncated", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n"
                      "<Selected>0,</Selected>\r\n<SelectedRules><Rule>site0"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18)},
        {"huge", "<TargetSiteSelect><Selected>0,</Selected>" +
                     std::string(static_cast<size_t>(kConfigFileLimit), ' ') +
                     "</TargetSiteSelect>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(temp_.File("Config"));
        std::filesystem::create_directories(temp_.File("Config"));
        temp_.Write("Config/TargetSiteSelect.xml", c.bytes);
        CTargetSiteSelectModel model(ProgramFolder());
        model.Load();
        model.SetChecked(1, true);
        ASSERT_TRUE(model.Confirm());
        std::vector<std::string> kept;
        for (const auto& entry : std::filesystem::directory_iterator(temp_.File("Config"))) {
            std::string name = entry.path().filename().string();
            if (name.starts_with("TargetSiteSelect.xml.damaged-")) {
                kept.push_back(name);
            }
        }
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(temp_.Read("Config/" + kept[0]), c.bytes);
        EXPECT_EQ(model.DamageNotice(), u"目标站设置文件已损坏，原文件已保留为 Config/" +
                                            Utf8ToWide(kept[0]) + u"，已按本次选择重新保存。");
        EXPECT_TRUE(testing::IsWellFormedXmlFile(SelectionFile()));
        EXPECT_EQ(StoredChecks(), (std::vector<bool>{false, true, false}));
        // The sound file is edited from now on, and nothing more is said.
        model.SetChecked(2, true);
        ASSERT_TRUE(model.Confirm());
        EXPECT_EQ(model.DamageNotice(), u"");
        EXPECT_EQ(StoredChecks(), (std::vector<bool>{false, true, true}));
    }
}

} // namespace
} // namespace velunor
