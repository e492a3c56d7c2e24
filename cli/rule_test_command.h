#pragma once

namespace velunor::cli {

/// velunor-cli rule-test RULE.xml search|info|contents|chapter PAGE_FILE [--url PAGE_URL]:
/// applies a rule to a saved page and prints what it finds. Returns the exit status.
int RunRuleTest(int argc, char** argv);

} // namespace velunor::cli
