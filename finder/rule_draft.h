#pragma once
// A rule file drafted from what the finder found on a site's pages: the regions and patterns are
// anchored on the ids, classes and markup the pages really have, so that the rule picks out of
// them what the finder picked out. Every pattern is tried on the pages it was made from before it
// is kept; what could not be made to pick out the same is left out or marked with a note.
//
// Drafting fetches nothing and runs no script; it reads only the pages it is given. Safe on any
// thread.

#include "rules/site_rule.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::finder {

/// One page a rule is drafted from: its address once redirects were followed, and its text as
/// decoded.
struct DraftPage {
    std::u16string Url;
    std::u16string Text;
};

/// The pages of one novel of a site that a rule is drafted from.
struct RuleDraftPages {
    /// The novel's information page, which also holds its chapter list (the first contents page)
    /// unless Contents is given.
    DraftPage Info;
    /// The first contents page, when the information page shows only part of the list and
    /// links to it (FoundNovelInfo::ContentsUrl); Url empty when the list is on Info.
    DraftPage Contents;
    /// The second contents page when the list goes on over pages; Url empty when it does not.
    DraftPage NextContents;
    /// The pages of a few chapters of the list (the first, a middle and the last: a site may
    /// split only its longer chapters over pages), each chapter's pages in order.
    std::vector<std::vector<DraftPage>> Chapters;
    /// The charset the pages were read in (a name Velunor knows), for pages that declare none.
    std::u16string Charset;
    /// The site's search address with "{KEY}" where the search text goes; may be empty.
    std::u16string SearchUrlFormat;
    /// The page that searching for the novel's name gave; Url empty when there was no search.
    DraftPage SearchResults;
};

/// A note written into a drafted rule file as an XML comment before element `Element` (a name
/// of the rule format: "ContentsPage", "ChapterContent", ...; "Channel" for the whole file).
struct DraftNote {
    std::u16string Element;
    std::u16string Text;
};

/// A drafted rule.
struct RuleDraft {
    /// The rule; empty when the pages hold no novel the finder can read.
    CSiteRule Rule;
    /// What the drafted patterns could not be made to do, for the rule's author.
    std::vector<DraftNote> Notes;
    /// Why no rule was drafted (the finder's reason); empty when one was.
    std::u16string Refusal;
};

/// Drafts a rule from `pages`. Refuses (Refusal set, Rule empty) when the finder finds no chapter
/// list on the information page or no text on any chapter's first page.
RuleDraft DraftRule(const RuleDraftPages& pages);

/// The text of a rule file for `rule`, its elements in the format's order (of the optional
/// elements only RequestInterval and RetryCount, when set), with each note as an
/// XML comment before the element it names (at the top for "Channel" and for names not in it).
std::u16string WriteRuleXml(const CSiteRule& rule, const std::vector<DraftNote>& notes);

/// A file name for the rule of the site at `url`: its host and ".xml" ("novel.test.xml");
/// "site.xml" when the address names no host.
std::u16string DraftFileName(std::u16string_view url);

/// The address of the site of `url`: "scheme://host:port/"; empty when it has none.
std::u16string SiteUrlOf(std::u16string_view url);

/// The pattern that matches `text` literally in a page as rules match pages: metacharacters
/// escaped, "|" as \x7C, a character whose GB18030 bytes hold a metacharacter as one "." per
/// byte, and a run of white space as \s*. Never holds a "|".
std::u16string LiteralPattern(std::u16string_view text);

} // namespace velunor::finder
