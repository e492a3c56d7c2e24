#pragma once

#include "rules/site_rule.h"

#include <string>

namespace velunor::cli {

/// velunor-cli rule-test RULE.xml search|info|contents|chapter PAGE_FILE [--url PAGE_URL]:
/// applies a rule to a saved page and prints what it finds. Returns the exit status.
int RunRuleTest(int argc, char** argv);

/// Reads the rule file a rule command was given into `rule`; false, with the reason printed,
/// when the file cannot be read or holds no Channel element with rules. Blocks on the disk.
bool ReadRuleFile(const std::u16string& path, CSiteRule& rule);

} // namespace velunor::cli
