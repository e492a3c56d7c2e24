// rule-test: what a rule picks out of a saved page, for a person writing a rule file.

#include "cli/rule_test_command.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "rules/rules.h"
#include "site/site.h"

#include <cstring>
#include <string>
#include <vector>

namespace velunor::cli {
namespace {

struct RuleTestArguments {
    std::u16string rulePath;
    std::string pageKind;
    std::u16string pagePath;
    std::u16string pageUrl;
};

bool ParseArguments(int argc, char** argv, RuleTestArguments& arguments) {
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--url") == 0 && i + 1 < argc) {
            arguments.pageUrl = Wide(argv[i + 1]);
            ++i;
            continue;
        }
        positional.push_back(argv[i]);
    }
    if (positional.size() != 3) {
        return false;
    }
    arguments.rulePath = ResolveArgumentPath(positional[0]);
    arguments.pageKind = positional[1];
    arguments.pagePath = ResolveArgumentPath(positional[2]);
    return true;
}

// The link as the jobs store it: absolute against the page's address when one was given.
std::u16string AbsoluteLink(const std::u16string& pageUrl, std::u16string link) {
    if (!pageUrl.empty()) {
        CompleteUrl(pageUrl, link);
    }
    return link;
}

struct NamedCount {
    const char16_t* name;
    size_t count;
};

// A count of 0 with non-empty lists means the lists disagree; say which had how many.
void ExplainUnequalLists(std::initializer_list<NamedCount> lists) {
    std::u16string line = u"0 because the lists differ in length:";
    for (const NamedCount& list : lists) {
        line += u" ";
        line += list.name;
        line += u" " + DecimalText(static_cast<long long>(list.count));
    }
    PrintLine(line);
}

// Why the page gave nothing, in the terms of the rule file.
std::u16string ProblemText(ExtractionProblem problem) {
    switch (problem) {
    case ExtractionProblem::None:
        break;
    case ExtractionProblem::ValueTooLarge:
        return u"a captured value is larger than " +
               DecimalText(static_cast<long long>(kMaxValueBytes / (1024 * 1024))) + u" MiB";
    case ExtractionProblem::TooSlow:
        return u"the patterns used up the matching time the page is given: one of them "
               u"backtracks too much";
    case ExtractionProblem::TooManyEntries:
        return u"a list pattern found more than " + DecimalText(kMaxListEntries) +
               u" entries: check the rule file";
    }
    return {};
}

// Prints `nothing` and the reason when a limit stopped the page; false when none did.
bool ExplainProblem(std::u16string_view nothing, ExtractionProblem problem) {
    if (problem == ExtractionProblem::None) {
        return false;
    }
    PrintLine(std::u16string(nothing) + u" because " + ProblemText(problem));
    return true;
}

void PrintSearchResults(const CSiteRule& rule, const std::u16string& page,
                        const std::u16string& pageUrl) {
    SearchResultSet results;
    ExtractionProblem problem = ExtractionProblem::None;
    int32_t count = ExtractSearchResults(rule.SearchPage, page, results, &problem);
    if (ExplainProblem(u"0 hits", problem)) {
        return;
    }
    if (count == 0 && !results.NovelName.empty()) {
        ExplainUnequalLists({{u"NovelInfoPageUrl", results.NovelInfoPageUrl.size()},
                             {u"NovelName", results.NovelName.size()},
                             {u"NovelAuthor", results.NovelAuthor.size()},
                             {u"LatestChapter", results.LatestChapter.size()}});
        return;
    }
    PrintLine(DecimalText(count) + (count == 1 ? u" hit" : u" hits"));
    for (int32_t i = 0; i < count; ++i) {
        size_t k = static_cast<size_t>(i);
        PrintLine(DecimalText(i + 1) + u". " + results.NovelName[k] + u" | " +
                  results.NovelAuthor[k] + u" | " + results.LatestChapter[k]);
        PrintLine(u"   " + AbsoluteLink(pageUrl, results.NovelInfoPageUrl[k]));
    }
}

void PrintNovelInfo(const CSiteRule& rule, const std::u16string& page,
                    const std::u16string& pageUrl) {
    NovelInfo info;
    ExtractionProblem problem = ExtractionProblem::None;
    ExtractNovelInfo(rule.InfoPage, page, info, &problem);
    if (ExplainProblem(u"nothing found", problem)) {
        return;
    }
    PrintLine(u"NovelName:     " + info.NovelName);
    PrintLine(u"NovelAuthor:   " + info.NovelAuthor);
    PrintLine(u"NovelSort:     " + info.NovelSort);
    PrintLine(u"NovelState:    " + info.NovelState);
    PrintLine(u"LatestChapter: " + info.LatestChapter);
    PrintLine(u"ContentsUrl:   " + AbsoluteLink(pageUrl, info.ContentsUrl));
    PrintLine(u"NovelIntro:    " + info.NovelIntro);
}

// Whether the page is the site refusing access; the jobs take such a page for a failed fetch.
void PrintBlockedState(const CSiteRule& rule, const std::u16string& page) {
    if (!IsBlockedPage(rule, page)) {
        PrintLine(u"blocked page: no");
        return;
    }
    PrintLine(u"blocked page: yes, the site refused access (BlockedPagePattern or a challenge "
              u"page); a download takes this page for a failed fetch");
}

// The next page of a list or a chapter split over pages, found by the rule element that
// `label` names.
void PrintNextPage(std::u16string_view label, std::u16string_view patterns,
                   const std::u16string& page, const std::u16string& pageUrl) {
    std::u16string head = std::u16string(label) + u": ";
    if (patterns.empty()) {
        PrintLine(head + u"not in the rule");
        return;
    }
    ExtractionProblem problem = ExtractionProblem::None;
    std::u16string next = ExtractField(patterns, page, &problem);
    if (ExplainProblem(head + u"none", problem)) {
        return;
    }
    PrintLine(head + (next.empty() ? u"none found" : AbsoluteLink(pageUrl, next)));
}

void PrintChapterEntries(const CSiteRule& rule, const std::u16string& page,
                         const std::u16string& pageUrl) {
    ChapterList chapters;
    ExtractionProblem problem = ExtractionProblem::None;
    int32_t count = ExtractChapterList(rule.ContentsPage, page, chapters, &problem);
    if (ExplainProblem(u"0 chapters", problem)) {
        return;
    }
    if (count == 0 && !chapters.ChapterName.empty()) {
        ExplainUnequalLists({{u"ChapterName", chapters.ChapterName.size()},
                             {u"ChapterUrl", chapters.ChapterUrl.size()}});
        return;
    }
    // Completed and rid of repeats as a download keeps them: a chapter listed twice (a block
    // of the latest chapters above the full list) is shown at its last place only.
    for (std::u16string& url : chapters.ChapterUrl) {
        url = AbsoluteLink(pageUrl, std::move(url));
    }
    DropEarlierRepeats(chapters);
    std::u16string volumes;
    if (!chapters.Volumes.empty()) {
        volumes =
            u" in " + DecimalText(static_cast<long long>(chapters.Volumes.size())) + u" volumes";
    }
    PrintLine(DecimalText(chapters.count) + u" chapters" + volumes);
    // Each volume heading on a line of its own above its chapters, as the contents show it.
    auto heading = [&](size_t k) { PrintLine(u"== " + chapters.Volumes[k].Name); };
    auto chapter = [&](size_t k) {
        PrintLine(DecimalText(static_cast<long long>(k + 1)) + u". " + chapters.ChapterName[k] +
                  u" | " + chapters.ChapterUrl[k]);
    };
    ForEachContentsEntry(chapters.Volumes, chapters.ChapterUrl.size(), heading, chapter);
}

void PrintChapterList(const CSiteRule& rule, const std::u16string& page,
                      const std::u16string& pageUrl) {
    PrintBlockedState(rule, page);
    PrintChapterEntries(rule, page, pageUrl);
    PrintNextPage(u"ContentsNextPageUrl", rule.ContentsPage.ContentsNextPageUrl, page, pageUrl);
}

// The images a download would fetch from the chapter text, found as the download finds them.
void PrintImages(const std::u16string& text, const std::u16string& pageUrl) {
    std::vector<ImageSourceSpan> sources = FindImageSources(text);
    PrintLine(u"--- " + DecimalText(static_cast<long long>(sources.size())) + u" images");
    for (const ImageSourceSpan& source : sources) {
        PrintLine(AbsoluteLink(pageUrl, text.substr(source.Start, source.Length)));
    }
}

void PrintChapterText(const CSiteRule& rule, const std::u16string& page,
                      const std::u16string& pageUrl) {
    ExtractionProblem problem = ExtractionProblem::None;
    std::u16string text = ExtractField(rule.ChapterContent, page, &problem);
    if (ExplainProblem(u"--- no ChapterContent", problem)) {
        return;
    }
    PrintLine(u"--- ChapterContent (" + DecimalText(static_cast<long long>(text.size())) +
              u" characters)");
    PrintLine(text);
    std::u16string cleaned = ApplyReplaceRule(rule.ReplaceRule, text, &problem);
    if (!ExplainProblem(u"--- ReplaceRule not applied", problem)) {
        PrintLine(u"--- after ReplaceRule");
        PrintLine(cleaned);
    }
    PrintImages(text, pageUrl);
}

void PrintChapter(const CSiteRule& rule, const std::u16string& page,
                  const std::u16string& pageUrl) {
    PrintBlockedState(rule, page);
    PrintChapterText(rule, page, pageUrl);
    PrintNextPage(u"--- ChapterNextPageUrl", rule.ChapterNextPageUrl, page, pageUrl);
}

bool IsEmptyRule(const CSiteRule& rule) {
    return rule.SiteName.empty() && rule.SearchPage.SearchPageUrlFormat.empty() &&
           rule.InfoPage.NovelName.empty() && rule.ContentsPage.ChapterUrl.empty() &&
           rule.ChapterContent.empty();
}

// Why a page was read in its charset.
std::u16string CharsetReason(CharsetSource source) {
    switch (source) {
    case CharsetSource::ByteOrderMark:
        return u"byte-order mark";
    case CharsetSource::Header:
        return u"Content-Type header";
    case CharsetSource::Meta:
        return u"declared by a meta in the page's head";
    case CharsetSource::Rule:
        return u"the page declares none: the rule's Charset";
    case CharsetSource::SearchCharset:
        return u"the rule's SearchCharset";
    }
    return {};
}

// The charset names of the rule that no known charset answers to.
void WarnUnknownCharsets(const CSiteRule& rule) {
    if (!IsKnownCharset(rule.Charset)) {
        PrintLine(u"Charset \"" + rule.Charset + u"\" is not known; pages are read as GB18030");
    }
    const std::u16string& search = rule.SearchPage.SearchCharset;
    if (!search.empty() && !IsKnownCharset(search)) {
        PrintLine(u"SearchCharset \"" + search +
                  u"\" is not known; search pages are read as other pages are");
    }
}

} // namespace

bool ReadRuleFile(const std::u16string& path, CSiteRule& rule) {
    // Read first, so that a device or a huge file is refused here with a reason, before the
    // rule loader finds it empty.
    std::string bytes;
    if (!ReadArgumentFile(path, kRuleFileLimit, u"rule file", bytes)) {
        return false;
    }
    rule = LoadSiteRule(path);
    if (IsEmptyRule(rule)) {
        PrintError(u"the rule file " + path + u" holds no Channel element with rules");
        return false;
    }
    return true;
}

int RunRuleTest(int argc, char** argv) {
    RuleTestArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintError(u"usage: velunor-cli rule-test RULE.xml search|info|contents|chapter PAGE_FILE "
                   u"[--url PAGE_URL]");
        return 2;
    }
    using Printer = void (*)(const CSiteRule&, const std::u16string&, const std::u16string&);
    Printer print = nullptr;
    if (arguments.pageKind == "search") {
        print = PrintSearchResults;
    } else if (arguments.pageKind == "info") {
        print = PrintNovelInfo;
    } else if (arguments.pageKind == "contents") {
        print = PrintChapterList;
    } else if (arguments.pageKind == "chapter") {
        print = PrintChapter;
    } else {
        PrintError(u"unknown page kind \"" + Wide(arguments.pageKind) +
                   u"\": use search, info, contents or chapter");
        return 2;
    }
    CSiteRule rule;
    if (!ReadRuleFile(arguments.rulePath, rule)) {
        return 1;
    }
    std::string pageBytes;
    if (!ReadArgumentFile(arguments.pagePath, kPageFileLimit, u"page file", pageBytes)) {
        return 1;
    }
    // Decoded as the site layer decodes every page; a saved page has no header to declare with.
    std::u16string_view searchCharset;
    if (print == PrintSearchResults) {
        searchCharset = rule.SearchPage.SearchCharset;
    }
    PageCharset charset = FindPageCharset(pageBytes, {}, rule.Charset, searchCharset);
    std::u16string page = DecodeSitePage(charset, pageBytes);
    PrintLine(u"site: " + rule.SiteName + u" (" +
              (rule.Charset.empty() ? u"no charset" : rule.Charset) + u")");
    WarnUnknownCharsets(rule);
    PrintLine(u"charset: " + Wide(charset.Encoding) + u" (" + CharsetReason(charset.Source) + u")");
    print(rule, page, arguments.pageUrl);
    return 0;
}

} // namespace velunor::cli
