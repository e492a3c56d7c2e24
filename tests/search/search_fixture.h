#pragma once
// A program folder in a temporary folder with rule files for the fake sites of the local test
// site, made the current directory for the length of a test.

#include "core/core.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace velunor::testing {

class ProgramFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Rule")));
        ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Config")));
        inside_ = std::make_unique<ScopedCurrentDirectory>(temp_.Path());
    }
    void TearDown() override {
        inside_.reset();
    }

    /// The program folder, ending in "/".
    std::u16string ProgramFolder() const {
        return temp_.WidePath() + u"/";
    }

    /// Copies a rule file of tests/data/search/rules into Rule/ as `name`, pointing it at `site`.
    void InstallRule(const std::string& fixture, const std::string& name, const TestSite& site,
                     const std::string& siteNumber = "") {
        temp_.Write(
            "Rule/" + name,
            site.RuleFile(std::string(VELUNOR_TEST_DATA) + "/search/rules/" + fixture, siteNumber));
    }

    void WriteSelection(const std::string& selection) {
        temp_.Write(
            "Config/TargetSiteSelect.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n<Selected>" +
                selection + "</Selected>\r\n</TargetSiteSelect>\r\n");
    }

    TempFolder temp_;
    std::unique_ptr<ScopedCurrentDirectory> inside_;
};

} // namespace velunor::testing
