#pragma once

namespace velunor::cli {

/// velunor-cli rule-draft URL [--search URL_WITH_{KEY}] [--out FILE]: drafts a rule for the site
/// of the novel at URL from what the page finder finds there, checks it on the site as
/// rule-check does, prints the check, and writes the draft to FILE (default: the site's host
/// and ".xml" in the current folder). Never replaces an existing file. Returns the exit status:
/// 0 only when a draft was written and passed its check. Blocks on the network.
int RunRuleDraft(int argc, char** argv);

} // namespace velunor::cli
