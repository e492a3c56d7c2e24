// rule-check: a rule tried on its live site from a search or from a novel's address, the walk
// printed step by step.

#include "cli/rule_check_command.h"

#include "cli/cli_support.h"
#include "cli/rule_test_command.h"
#include "draft/draft.h"
#include "rules/rules.h"

#include <cstring>
#include <string>
#include <vector>

namespace velunor::cli {
namespace {

constexpr int kMostHitNumber = 100000;

struct RuleCheckArguments {
    std::u16string rulePath;
    draft::RuleCheckStart start;
};

// A hit number: decimal digits only, counted from 1.
bool ParseHitNumber(const char* text, int& hit) {
    hit = ParseItemIndex(text, kMostHitNumber) + 1;
    return hit >= 1;
}

// RULE.xml and NAME, or RULE.xml --url INFO_URL; --hit only with a NAME.
bool ParseArguments(int argc, char** argv, RuleCheckArguments& arguments) {
    std::vector<std::string> positional;
    bool hitGiven = false;
    for (int i = 2; i < argc; ++i) {
        bool option = std::strcmp(argv[i], "--hit") == 0 || std::strcmp(argv[i], "--url") == 0;
        if (option && i + 1 >= argc) {
            return false;
        }
        if (std::strcmp(argv[i], "--hit") == 0) {
            hitGiven = true;
            if (!ParseHitNumber(argv[++i], arguments.start.Hit)) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--url") == 0) {
            arguments.start.InfoUrl = Wide(argv[++i]);
        } else {
            positional.push_back(argv[i]);
        }
    }
    bool fromUrl = !arguments.start.InfoUrl.empty();
    if (positional.size() != (fromUrl ? 1u : 2u) || (fromUrl && hitGiven)) {
        return false;
    }
    arguments.rulePath = ResolveArgumentPath(positional[0]);
    if (!fromUrl) {
        arguments.start.SearchName = Wide(positional[1]);
    }
    return true;
}

} // namespace

int RunRuleCheck(int argc, char** argv) {
    RuleCheckArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintError(
            u"usage: velunor-cli rule-check RULE.xml NAME [--hit N] | RULE.xml --url INFO_URL");
        return 2;
    }
    if (arguments.start.InfoUrl.empty() && TrimSearchText(arguments.start.SearchName).empty()) {
        PrintError(u"the name to search for is empty");
        return 2;
    }
    CSiteRule rule;
    if (!ReadRuleFile(arguments.rulePath, rule)) {
        return 1;
    }
    draft::RuleCheckReport report = draft::CheckSiteRule(rule, arguments.rulePath, arguments.start);
    for (const std::u16string& line : report.Lines) {
        PrintLine(line);
    }
    return report.Passed() ? 0 : 1;
}

} // namespace velunor::cli
