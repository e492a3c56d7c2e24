#pragma once

namespace velunor::cli {

/// velunor-cli rule-check RULE.xml NAME [--hit N] | RULE.xml --url INFO_URL: searches the rule's
/// site for NAME and walks hit N (from 1), or walks the novel at INFO_URL, the way a download
/// would: its information page, every contents page, and the first, a middle and the last
/// chapter with all their pages. Prints each step and whether it passed. Returns the exit
/// status: 0 only when every step passed. Blocks on the network.
int RunRuleCheck(int argc, char** argv);

} // namespace velunor::cli
