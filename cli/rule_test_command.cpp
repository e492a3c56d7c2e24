// rule-test: what a rule picks out of a saved page, for a person writing a rule file.

#include "cli/rule_test_command.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "rules/rules.h"

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

void PrintSearchResults(const CSiteRule& rule, const std::u16string& page,
                        const std::u16string& pageUrl) {
    SearchResultSet results;
    int32_t count = ExtractSearchResults(rule.SearchPage, page, results);
    if (count == 0 && !results.NovelName.empty()) {
        ExplainUnequalLists({{u"NovelInfoPageUrl", results.NovelInfoPageUrl.size()},
                             {u"NovelName", results.NovelName.size()},
                             {u"NovelAuthor", results.NovelAuthor.size()},
                             {u"LatestChapter", results.LatestChapter.size()}});
        return;
    }
    PrintLine(DecimalText(count) + u" hits");
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
    ExtractNovelInfo(rule.InfoPage, page, info);
    PrintLine(u"NovelName:     " + info.NovelName);
    PrintLine(u"NovelAuthor:   " + info.NovelAuthor);
    PrintLine(u"NovelSort:     " + info.NovelSort);
    PrintLine(u"NovelState:    " + info.NovelState);
    PrintLine(u"LatestChapter: " + info.LatestChapter);
    PrintLine(u"ContentsUrl:   " + AbsoluteLink(pageUrl, info.ContentsUrl));
    PrintLine(u"NovelIntro:    " + info.NovelIntro);
}

void PrintChapterList(const CSiteRule& rule, const std::u16string& page,
                      const std::u16string& pageUrl) {
    ChapterList chapters;
    int32_t count = ExtractChapterList(rule.ContentsPage, page, chapters);
    if (count == 0 && !chapters.ChapterName.empty()) {
        ExplainUnequalLists({{u"ChapterName", chapters.ChapterName.size()},
                             {u"ChapterUrl", chapters.ChapterUrl.size()}});
        return;
    }
    PrintLine(DecimalText(count) + u" chapters");
    for (int32_t i = 0; i < count; ++i) {
        size_t k = static_cast<size_t>(i);
        PrintLine(DecimalText(i + 1) + u". " + chapters.ChapterName[k] + u" | " +
                  AbsoluteLink(pageUrl, chapters.ChapterUrl[k]));
    }
}

void PrintChapter(const CSiteRule& rule, const std::u16string& page,
                  const std::u16string& pageUrl) {
    std::u16string text = ExtractField(rule.ChapterContent, page);
    PrintLine(u"--- ChapterContent (" + DecimalText(static_cast<long long>(text.size())) +
              u" characters)");
    PrintLine(text);
    PrintLine(u"--- after ReplaceRule");
    PrintLine(ApplyReplaceRule(rule.ReplaceRule, text));
    std::vector<std::u16string> sources;
    int32_t images = ExtractImageSources(text, sources);
    PrintLine(u"--- " + DecimalText(images) + u" images");
    for (const std::u16string& source : sources) {
        PrintLine(AbsoluteLink(pageUrl, source));
    }
}

bool IsEmptyRule(const CSiteRule& rule) {
    return rule.SiteName.empty() && rule.SearchPage.SearchPageUrlFormat.empty() &&
           rule.InfoPage.NovelName.empty() && rule.ContentsPage.ChapterUrl.empty() &&
           rule.ChapterContent.empty();
}

} // namespace

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
    std::string ruleBytes;
    if (!ReadFileBytes(arguments.rulePath, ruleBytes)) {
        PrintError(u"cannot read the rule file " + arguments.rulePath);
        return 1;
    }
    CSiteRule rule = LoadSiteRule(arguments.rulePath);
    if (IsEmptyRule(rule)) {
        PrintError(u"the rule file " + arguments.rulePath +
                   u" holds no Channel element with rules");
        return 1;
    }
    std::string pageBytes;
    if (!ReadFileBytes(arguments.pagePath, pageBytes)) {
        PrintError(u"cannot read the page file " + arguments.pagePath);
        return 1;
    }
    // Decoded as the fetcher decodes every page, then re-read for UTF-8 sites.
    std::u16string page = AnsiToWide(pageBytes);
    if (IsUtf8Site(rule)) {
        page = ReinterpretAsUtf8(page);
    }
    PrintLine(u"site: " + rule.SiteName + u" (" +
              (rule.Charset.empty() ? u"no charset" : rule.Charset) + u")");
    print(rule, page, arguments.pageUrl);
    return 0;
}

} // namespace velunor::cli
