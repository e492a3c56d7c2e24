#pragma once
// Rules tried on their live sites, and rules drafted for sites that have none.
//
// The check walks a site as a download does: from a search, or from a novel's address, through
// its information page, every contents page, and the first, a middle and the last chapter with
// all their pages, each step with the site layer's own reading. It gives the steps as data and as
// the lines a terminal or a dialog shows.
//
// The draft fetches a novel's pages through the site layer, lets the page finder read them,
// drafts a rule from what it chose (see finder/rule_draft.h), and checks the draft the same way,
// marking what did not pass in the rule's text. It never runs a page's scripts and never follows
// a link off the site.
//
// Both block on the network; any thread may call them.

#include "rules/rules.h"
#include "site/site.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::draft {

/// Where a check starts: a search for SearchName, taking hit number Hit (from 1), or, when
/// InfoUrl is given, the hit that leads to it; or without a search, the novel at InfoUrl.
struct RuleCheckStart {
    std::u16string SearchName;
    int Hit = 1;
    std::u16string InfoUrl;
};

/// One step of a check.
struct RuleCheckStep {
    /// The kind of page the step read.
    RulePage Page = RulePage::Search;
    std::u16string Title;
    bool Passed = true;
    /// Why it did not pass, the reasons joined by "；"; empty when it passed.
    std::u16string Why;
};

/// What a check found.
struct RuleCheckReport {
    /// What a terminal shows, line by line, the verdict last.
    std::vector<std::u16string> Lines;
    std::vector<RuleCheckStep> Steps;
    /// True when a failed step left nothing to go on with, so that later steps were not made.
    bool Ended = false;

    /// True when every step passed and none was left out.
    bool Passed() const;
    /// How many steps did not pass.
    int Failed() const;
};

/// Walks the site of `rule` (read from `ruleFile`, may be empty) from `start`. Blocks on the
/// network; `cancelled` (may be empty) is asked between steps and ends the walk.
RuleCheckReport CheckSiteRule(const CSiteRule& rule, const std::u16string& ruleFile,
                              const RuleCheckStart& start, const CancelTest& cancelled = {});

/// A rule drafted for a site.
struct SiteRuleDraft {
    /// The rule file's text, what did not pass marked with XML comments; empty when refused.
    std::u16string Xml;
    /// A file name for it from the site's host ("novel.test.xml").
    std::u16string FileName;
    /// The check of the draft.
    RuleCheckReport Check;
    /// True when the draft was made and passed its check unmarked.
    bool Passed = false;
    /// Why no rule was drafted, in words for a reader; empty when one was.
    std::u16string Refusal;
};

/// Drafts a rule for the site of the novel at `url` (its information page, which lists its
/// chapters), with search patterns when `searchUrlTemplate` (an address holding "{KEY}") is
/// given, and checks it. Blocks on the network; `cancelled` (may be empty) ends it early with a
/// refusal.
SiteRuleDraft DraftSiteRule(std::u16string_view url, std::u16string_view searchUrlTemplate,
                            const CancelTest& cancelled = {});

} // namespace velunor::draft
