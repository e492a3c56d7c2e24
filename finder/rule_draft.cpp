// A rule drafted part by part from what the finder chose on the novel's pages. Each part's
// patterns are tried on the pages they were made from and kept only when they pick out what the
// finder picked out; a part that cannot be made so is left out with a note.

#include "finder/rule_draft.h"
#include "finder/finder.h"
#include "finder/internal/draft_patterns.h"
#include "finder/internal/page_reading.h"

#include "core/core.h"
#include "rules/rules.h"

#include <algorithm>
#include <array>
#include <set>

namespace velunor::finder {
namespace {

using internal::RegionSample;
using internal::TreePage;

// A drafted rule as it grows, with the notes for its author.
struct Drafting {
    CSiteRule Rule;
    std::vector<DraftNote> Notes;

    void Note(std::u16string_view element, std::u16string_view text) {
        Notes.push_back({std::u16string(element), std::u16string(text)});
    }
};

// A contents page with what the finder found on it.
struct ContentsSample {
    TreePage Page;
    FoundChapterList Found;

    // True when a next-page link to `next` on this page, the last, ends the contents.
    bool EndsAt(const std::u16string& next, const std::set<std::u16string>& endings) const {
        return endings.count(next) > 0;
    }
};

// A chapter page with what the finder found on it.
struct ChapterSample {
    TreePage Page;
    FoundChapterText Found;
    // The chapter's first page.
    std::u16string FirstPageUrl;

    // True when a next-page link to `next` on this page, the chapter's last, leads out of the
    // chapter: to a page where chapters end, or to a page of the folder not named as this
    // chapter's pages are (a chapter of a contents page not read, which a download knows as
    // the next chapter).
    bool EndsAt(const std::u16string& next, const std::set<std::u16string>& endings) const {
        return endings.count(next) > 0 || (AddressFolder(next) == AddressFolder(FirstPageUrl) &&
                                           !internal::IsOwnFurtherPage(FirstPageUrl, next));
    }
};

std::u16string Joined(const std::vector<std::u16string>& patterns) {
    std::u16string list;
    for (const std::u16string& pattern : patterns) {
        list += (list.empty() ? u"" : u"|") + pattern;
    }
    return list;
}

// What a value picked out by a pattern reads as: markup and references as a reader sees them.
std::u16string ReadValue(std::u16string_view value) {
    return std::u16string(html::TrimmedCaption(html::VisibleText(value)));
}

// The first element of `page` (inside `within` when given) with tag `tag` whose `attribute`,
// completed against the page's address, is `address`.
size_t ElementLeadingTo(const TreePage& page, std::string_view tag, std::string_view attribute,
                        std::u16string_view address, size_t within = html::kNoElement) {
    const auto& elements = page.Tree.Elements;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (elements[i].Tag != tag ||
            (within != html::kNoElement && !internal::Within(page.Tree, i, within))) {
            continue;
        }
        if (internal::SiteAddress(page.Url, elements[i].Attribute(attribute)) == address) {
            return i;
        }
    }
    return html::kNoElement;
}

// The innermost element at or inside `index` whose visible text is `text`.
size_t InnermostWithText(const html::PageTree& tree, size_t index, std::u16string_view text) {
    for (bool deeper = true; deeper;) {
        deeper = false;
        for (size_t child : tree.Elements[index].Children) {
            if (tree.TextOf(child) == text) {
                index = child;
                deeper = true;
                break;
            }
        }
    }
    return index;
}

// The start tag of `index`'s parent with the white space before it, when `index` is the first
// thing the parent holds: a prefix that tells a list's entries from other links.
std::u16string ParentPrefix(const TreePage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    if (element.Parent == html::kNoElement) {
        return {};
    }
    std::u16string_view parent = internal::StartTag(page, element.Parent);
    size_t innerStart = page.Tree.Elements[element.Parent].Inner.Start;
    if (parent.empty() || element.Source.Start < innerStart ||
        !TrimSearchText(page.Text.substr(innerStart, element.Source.Start - innerStart)).empty()) {
        return {};
    }
    return internal::TagPattern(parent, {}, {"id", "class"}) + u"\\s*";
}

// ---- Charset, site, novel ----

std::u16string DeclaredCharset(const RuleDraftPages& pages) {
    std::vector<html::SourceSpan> declared = html::DeclaredCharsets(pages.Info.Text);
    for (const html::SourceSpan& span : declared) {
        std::u16string name = pages.Info.Text.substr(span.Start, span.Length);
        if (IsKnownCharset(name)) {
            return name;
        }
    }
    return pages.Charset;
}

// The site's part of a page title ("书名_星河书屋"), else the host.
std::u16string SiteNameOf(const DraftPage& info) {
    std::u16string title = html::PageTitle(info.Text);
    size_t cut = title.find_last_of(u"_|-–—");
    std::u16string name =
        cut == title.npos
            ? u""
            : std::u16string(html::TrimmedCaption(std::u16string_view(title).substr(cut + 1)));
    if (name.empty()) {
        name = DraftFileName(info.Url);
        name.resize(name.size() - 4);
    }
    std::replace(name.begin(), name.end(), u'/', u'_');
    return name;
}

// Meta tags that carry `value` under one of `keys`, as patterns capturing their content.
void AddMetaPatterns(const TreePage& page, std::initializer_list<std::u16string_view> keys,
                     std::u16string_view value, std::vector<std::u16string>& patterns) {
    for (size_t i = 0; i < page.Tree.Elements.size(); ++i) {
        const html::PageElement& element = page.Tree.Elements[i];
        if (element.Tag != "meta" || html::TrimmedCaption(element.Attribute("content")) != value) {
            continue;
        }
        for (std::u16string_view key : keys) {
            for (std::string_view attribute : {"property", "name"}) {
                if (element.Attribute(attribute) == key) {
                    patterns.push_back(
                        internal::TagPattern(internal::StartTag(page, i), "content", {attribute}));
                }
            }
        }
    }
}

// The element whose whole text is `value` (a heading, a cell), as a pattern capturing its text.
void AddTextPattern(const TreePage& page, std::u16string_view value,
                    std::vector<std::u16string>& patterns) {
    for (size_t i = 0; i < page.Tree.Elements.size(); ++i) {
        const html::PageElement& element = page.Tree.Elements[i];
        if (!element.Visible || html::TrimmedCaption(page.Tree.TextOf(i)) != value ||
            !element.Children.empty()) {
            continue;
        }
        std::u16string_view tag = internal::StartTag(page, i);
        if (!tag.empty()) {
            patterns.push_back(LiteralPattern(tag) + u"([^<]+)" +
                               LiteralPattern(internal::EndTag(page, i)));
            return;
        }
    }
}

// The author after a label in the text ("作者：市井"), the label as the source writes it.
void AddLabelPattern(const TreePage& page, std::u16string_view value,
                     std::vector<std::u16string>& patterns) {
    for (std::u16string_view label : {u"作者：", u"作者:", u"作\u3000者："}) {
        size_t at = page.Text.find(std::u16string(label) + std::u16string(value));
        if (at != std::u16string_view::npos) {
            patterns.push_back(LiteralPattern(label) + u"\\s*([^<]+)");
            return;
        }
    }
}

// The patterns among `candidates` that find `wanted` on `page`, most specific first.
std::u16string PatternsFinding(const std::vector<std::u16string>& candidates,
                               std::u16string_view page, std::u16string_view wanted) {
    std::vector<std::u16string> kept;
    for (const std::u16string& pattern : candidates) {
        if (ReadValue(ExtractField(pattern, page)) == wanted) {
            kept.push_back(pattern);
        }
    }
    return Joined(kept);
}

void DraftNovelInfo(const TreePage& info, Drafting& draft) {
    FoundNovelInfo found = FindNovelInfo(info.Text, info.Url);
    std::vector<std::u16string> names;
    AddMetaPatterns(info, {u"og:novel:book_name", u"og:title"}, found.Name, names);
    AddTextPattern(info, found.Name, names);
    draft.Rule.InfoPage.NovelName = PatternsFinding(names, info.Text, found.Name);
    if (draft.Rule.InfoPage.NovelName.empty()) {
        draft.Note(u"InfoPage",
                   u"没能写出取书名“" + found.Name +
                       u"”的 NovelName，请按信息页补上：没有书名，搜索跳到信息页时认不出这本书。");
    }
    std::vector<std::u16string> authors;
    AddMetaPatterns(info, {u"og:novel:author"}, found.Author, authors);
    AddLabelPattern(info, found.Author, authors);
    draft.Rule.InfoPage.NovelAuthor = PatternsFinding(authors, info.Text, found.Author);
}

// ---- Contents ----

// A heading among the list's entries that names the list, not a volume: "最新章节", "《…》正文".
constexpr std::array<std::u16string_view, 5> kListTitleMarks = {u"最新", u"正文", u"目录", u"目錄",
                                                                u"列表"};

// The volume pattern for the first heading the finder found, with lookaheads that pass over the
// headings of the same markup that name the list instead.
std::u16string VolumePattern(const ContentsSample& sample, const ContentsPageRule& rule) {
    const TreePage& page = sample.Page;
    const std::u16string& name = sample.Found.Chapters.Volumes.front().Name;
    size_t heading = html::kNoElement;
    for (size_t i = sample.Found.ListElement; i < page.Tree.Elements.size(); ++i) {
        if (internal::Within(page.Tree, i, sample.Found.ListElement) &&
            page.Tree.TextOf(i) == name) {
            heading = InnermostWithText(page.Tree, i, name);
            break;
        }
    }
    std::u16string_view tag = heading == html::kNoElement ? u"" : internal::StartTag(page, heading);
    if (tag.empty()) {
        return {};
    }
    std::u16string start = LiteralPattern(tag);
    std::u16string rest = u"([^<]+)" + LiteralPattern(internal::EndTag(page, heading));
    ContentsPageRule trial = rule;
    trial.VolumeName = start + rest;
    ChapterList list;
    ExtractChapterList(trial, page.Text, list);
    std::set<std::u16string> found;
    for (const VolumeHeading& volume : sample.Found.Chapters.Volumes) {
        found.insert(volume.Name);
    }
    std::u16string lookaheads;
    for (const VolumeHeading& volume : list.Volumes) {
        std::u16string read = ReadValue(volume.Name);
        if (found.count(read) > 0) {
            continue;
        }
        for (std::u16string_view mark : kListTitleMarks) {
            if (read.find(mark) != read.npos) {
                lookaheads += u"(?![^<]*" + LiteralPattern(mark) + u")";
                break;
            }
        }
    }
    return start + lookaheads + rest;
}

// The chapters `rule` lists on `page` as a download keeps them: addresses completed, a chapter
// listed twice at its last place.
std::vector<std::pair<std::u16string, std::u16string>> RuleChapters(const ContentsPageRule& rule,
                                                                    const TreePage& page) {
    ChapterList list;
    ExtractChapterList(rule, page.Text, list);
    std::vector<std::pair<std::u16string, std::u16string>> chapters;
    for (size_t i = 0; i < list.ChapterUrl.size(); ++i) {
        std::u16string url = list.ChapterUrl[i];
        CompleteUrl(page.Url, url);
        bool again = std::find(list.ChapterUrl.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                               list.ChapterUrl.end(), list.ChapterUrl[i]) != list.ChapterUrl.end();
        if (!again) {
            chapters.emplace_back(std::move(url), ReadValue(list.ChapterName[i]));
        }
    }
    return chapters;
}

// True when what `rule` lists on each page is what the finder found there, give or take a run
// of chapters of the novel's folder before or after it: a block of the latest chapters that the
// finder left out and that a download keeps only where the later contents pages list them.
bool ListsAsFound(const ContentsPageRule& rule, const std::vector<ContentsSample>& samples) {
    for (const ContentsSample& sample : samples) {
        const ChapterList& found = sample.Found.Chapters;
        auto chapters = RuleChapters(rule, sample.Page);
        auto start = std::find_if(chapters.begin(), chapters.end(), [&](const auto& chapter) {
            return chapter.first == found.ChapterUrl[0];
        });
        size_t at = static_cast<size_t>(start - chapters.begin());
        if (chapters.size() - at < found.ChapterUrl.size()) {
            return false;
        }
        for (size_t i = 0; i < chapters.size(); ++i) {
            bool inRun = i >= at && i - at < found.ChapterUrl.size();
            bool same = inRun && chapters[i].first == found.ChapterUrl[i - at] &&
                        chapters[i].second == html::TrimmedCaption(found.ChapterName[i - at]);
            bool besideIt =
                !inRun && AddressFolder(chapters[i].first) == AddressFolder(found.ChapterUrl[0]);
            if (!same && !besideIt) {
                return false;
            }
        }
    }
    return true;
}

// Chapter patterns made from the first chapter link's markup, with its parent's start tag in
// front first, then without; false when none lists what the finder found.
bool DraftChapterLinks(const std::vector<ContentsSample>& samples, ContentsPageRule& rule) {
    const ContentsSample& first = samples.front();
    size_t link = ElementLeadingTo(first.Page, "a", "href", first.Found.Chapters.ChapterUrl.front(),
                                   first.Found.ListElement);
    if (link == html::kNoElement) {
        return false;
    }
    std::u16string_view tag = internal::StartTag(first.Page, link);
    for (const std::u16string& prefix : {ParentPrefix(first.Page, link), std::u16string()}) {
        rule.ChapterUrl = prefix + internal::TagPattern(tag, "href", {"class"});
        rule.ChapterName =
            prefix + internal::TagPattern(tag, {}, {"class"}) + u"(?:<[^>]+>)*([^<]+)";
        if (ListsAsFound(rule, samples)) {
            return true;
        }
    }
    return false;
}

// The address a next-page pattern finds on `page`, completed; empty when it finds none.
std::u16string NextPageOf(std::u16string_view pattern, const TreePage& page) {
    std::u16string next = ExtractField(pattern, page.Text);
    if (!next.empty()) {
        CompleteUrl(page.Url, next);
    }
    return next;
}

// Next-page patterns for the element the finder followed on `page`: the option after the chosen
// one of a page selector, or a "下一页" link as written.
std::vector<std::u16string> NextPagePatterns(const TreePage& page, size_t next) {
    std::vector<std::u16string> patterns;
    if (next == html::kNoElement) {
        return patterns;
    }
    std::u16string_view tag = internal::StartTag(page, next);
    if (page.Tree.Elements[next].Tag == "option") {
        patterns.push_back(u"\\sselected[^>]*>[^<]*</option>\\s*" +
                           internal::TagPattern(tag, "value", {}));
        return patterns;
    }
    const html::SourceSpan& inner = page.Tree.Elements[next].Inner;
    std::u16string caption = LiteralPattern(page.Text.substr(inner.Start, inner.Length)) +
                             LiteralPattern(internal::EndTag(page, next));
    patterns.push_back(internal::TagPattern(tag, "href", {"class", "id"}) + caption);
    patterns.push_back(internal::TagPattern(tag, "href", {}) + caption);
    return patterns;
}

// True when the pattern leads from each page where the finder went: to its next page, and on a
// last page to nowhere or out of what the pages belong to.
template <typename Sample>
bool LeadsAsFound(std::u16string_view pattern, const std::vector<Sample>& samples,
                  const std::set<std::u16string>& endings) {
    for (const Sample& sample : samples) {
        std::u16string next = NextPageOf(pattern, sample.Page);
        const std::u16string& wanted = sample.Found.NextPageUrl;
        bool ends = wanted.empty() && (next.empty() || sample.EndsAt(next, endings));
        if (next != wanted && !ends) {
            return false;
        }
    }
    return true;
}

template <typename Sample>
std::u16string NextPagePattern(const std::vector<Sample>& samples,
                               const std::set<std::u16string>& endings) {
    for (const Sample& sample : samples) {
        for (const std::u16string& pattern :
             NextPagePatterns(sample.Page, sample.Found.NextPageElement)) {
            if (LeadsAsFound(pattern, samples, endings)) {
                return pattern;
            }
        }
    }
    return {};
}

void DraftContents(const std::vector<ContentsSample>& samples, Drafting& draft) {
    ContentsPageRule& rule = draft.Rule.ContentsPage;
    std::vector<RegionSample> regions;
    for (const ContentsSample& sample : samples) {
        regions.push_back({&sample.Page, sample.Found.ListElement});
    }
    rule.ContentsRegional = internal::RegionPattern(regions);
    if (rule.ContentsRegional.empty()) {
        draft.Note(u"ContentsRegional", u"没能写出只圈住章节列表的区域，下面的模式在整页上匹配。");
    }
    if (!DraftChapterLinks(samples, rule)) {
        draft.Note(u"ChapterName", u"起草的章节模式取到的章节和查找到的不同，请对照目录页修改。");
    }
    const ContentsSample& withVolumes = samples.front();
    if (!withVolumes.Found.Chapters.Volumes.empty()) {
        rule.VolumeName = VolumePattern(withVolumes, rule);
    }
    if (samples.size() > 1 || !samples.front().Found.NextPageUrl.empty()) {
        std::set<std::u16string> endings;
        for (const ContentsSample& sample : samples) {
            endings.insert(std::u16string(sample.Page.Url));
        }
        rule.ContentsNextPageUrl = NextPagePattern(samples, endings);
        if (rule.ContentsNextPageUrl.empty()) {
            draft.Note(u"ContentsNextPageUrl", u"目录分页，但没能写出取下一页目录地址的模式。");
        }
    }
}

// ---- Chapter text ----

bool IsHeadingTag(const std::string& tag) {
    return tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6';
}

// The chapter text `rule` gives for one page: its content, cleaned, as blocks with images
// completed.
std::vector<html::ChapterBlock> RuleBlocks(const CSiteRule& rule, const TreePage& page) {
    std::u16string text =
        ApplyReplaceRule(rule.ReplaceRule, ExtractField(rule.ChapterContent, page.Text));
    // Images by the address the library fetches, as the finder names them.
    std::vector<html::ChapterBlock> blocks = html::FetchedChapterBlocks(text);
    for (html::ChapterBlock& block : blocks) {
        if (block.BlockKind == html::ChapterBlock::Kind::Image) {
            CompleteUrl(page.Url, block.Text);
        }
    }
    return blocks;
}

// Patterns that delete what the finder left out of the text block: the site's boxes and
// headings in it by their markup, notices and lines of links by their words.
void AddCleaning(const ChapterSample& sample, std::vector<std::u16string>& cleaning) {
    const TreePage& page = sample.Page;
    std::set<std::u16string> kept;
    for (const html::ChapterBlock& block : sample.Found.Blocks) {
        kept.insert(block.Text);
    }
    auto add = [&](std::u16string pattern) {
        if (std::find(cleaning.begin(), cleaning.end(), pattern) == cleaning.end()) {
            cleaning.push_back(std::move(pattern));
        }
    };
    for (size_t child : page.Tree.Elements[sample.Found.TextElement].Children) {
        std::u16string_view tag = internal::StartTag(page, child);
        std::u16string_view text = page.Tree.TextOf(child);
        bool marked = internal::HasAttribute(tag, "id") || internal::HasAttribute(tag, "class");
        if (tag.empty() || text.empty() || kept.count(std::u16string(text)) > 0 ||
            (!marked && !IsHeadingTag(page.Tree.Elements[child].Tag))) {
            continue;
        }
        add(internal::TagPattern(tag, {}, {"id", "class"}) + u"[\\s\\S]*?" +
            LiteralPattern(internal::EndTag(page, child)));
    }
    // What is left once those boxes are gone: the lines to delete by their words.
    const html::SourceSpan& inner = page.Tree.Elements[sample.Found.TextElement].Inner;
    std::u16string region =
        ApplyReplaceRule(Joined(cleaning), page.Text.substr(inner.Start, inner.Length));
    for (const html::ChapterBlock& block : html::ChapterBlocks(region)) {
        if (block.BlockKind == html::ChapterBlock::Kind::Paragraph && kept.count(block.Text) == 0 &&
            region.find(block.Text) != region.npos) {
            add(LiteralPattern(block.Text));
        }
    }
}

// The pages of one chapter of `chapters` (the addresses of the list, in order) with what the
// finder found on them; every page read is added to `endings`, where a chapter's pages end.
void ReadChapter(const std::vector<DraftPage>& pages, const std::vector<std::u16string>& chapters,
                 const std::u16string& contentsUrl, std::vector<ChapterSample>& samples,
                 std::set<std::u16string>& endings) {
    if (pages.empty()) {
        return;
    }
    ChapterTextBounds bounds;
    bounds.FirstPageUrl = pages.front().Url;
    bounds.ContentsUrl = contentsUrl;
    auto at = std::find(chapters.begin(), chapters.end(), bounds.FirstPageUrl);
    if (at != chapters.end() && at + 1 != chapters.end()) {
        bounds.NextChapterUrl = *(at + 1);
    }
    for (const DraftPage& page : pages) {
        FoundChapterText found = FindChapterText(page.Text, page.Url, bounds);
        if (!found.Refusal.empty()) {
            return;
        }
        endings.insert(page.Url);
        samples.push_back(
            {internal::ReadTreePage(page.Url, page.Text), std::move(found), bounds.FirstPageUrl});
    }
}

void DraftChapterText(const std::vector<ChapterSample>& samples,
                      const std::set<std::u16string>& endings, Drafting& draft) {
    std::vector<RegionSample> regions;
    std::vector<std::u16string> cleaning;
    for (const ChapterSample& sample : samples) {
        regions.push_back({&sample.Page, sample.Found.TextElement});
        AddCleaning(sample, cleaning);
    }
    draft.Rule.ChapterContent = internal::RegionPattern(regions);
    draft.Rule.ReplaceRule = Joined(cleaning);
    if (draft.Rule.ChapterContent.empty()) {
        draft.Note(u"ChapterContent", u"没能写出只圈住正文的模式，请对照章节页补上。");
        return;
    }
    for (const ChapterSample& sample : samples) {
        if (RuleBlocks(draft.Rule, sample.Page) != sample.Found.Blocks) {
            draft.Note(u"ReplaceRule", u"正文里留下了站点的文字（或删多了），请对照 " +
                                           std::u16string(sample.Page.Url) +
                                           u" 修改 ReplaceRule。");
            break;
        }
    }
    bool paged = std::any_of(samples.begin(), samples.end(), [](const ChapterSample& sample) {
        return !sample.Found.NextPageUrl.empty();
    });
    if (paged) {
        draft.Rule.ChapterNextPageUrl = NextPagePattern(samples, endings);
        if (draft.Rule.ChapterNextPageUrl.empty()) {
            draft.Note(u"ChapterNextPageUrl", u"章节分页，但没能写出取下一页地址的模式。");
        }
    }
}

// ---- Search ----

// The row of a result list that holds `link`: the nearest element around it that holds the
// novel's author too (when known) and stands among siblings of its own tag.
size_t ResultRow(const html::PageTree& tree, size_t link, std::u16string_view author) {
    for (size_t at = tree.Elements[link].Parent; at != html::kNoElement;
         at = tree.Elements[at].Parent) {
        size_t parent = tree.Elements[at].Parent;
        if (parent == html::kNoElement) {
            break;
        }
        if (!author.empty() && tree.TextOf(at).find(author) == std::u16string_view::npos) {
            continue;
        }
        size_t alike = 0;
        for (size_t sibling : tree.Elements[parent].Children) {
            alike += tree.Elements[sibling].Tag == tree.Elements[at].Tag ? 1 : 0;
        }
        if (alike >= 2) {
            return at;
        }
    }
    return html::kNoElement;
}

// Another link in `row` than `link`: the latest chapter of a result.
size_t OtherLink(const html::PageTree& tree, size_t row, size_t link) {
    for (size_t i = row + 1; i < tree.Elements.size() && internal::Within(tree, i, row); ++i) {
        if (i != link && tree.Elements[i].Tag == "a" && !tree.TextOf(i).empty()) {
            return i;
        }
    }
    return html::kNoElement;
}

// A pattern capturing the text of link `index`, its parent's start tag in front.
std::u16string LinkTextPattern(const TreePage& page, size_t index) {
    return ParentPrefix(page, index) +
           internal::TagPattern(internal::StartTag(page, index), {}, {"class"}) +
           u"(?:<[^>]+>)*([^<]+)";
}

// True when the search patterns find the novel at `url` named `name` among their hits.
bool FindsNovel(const SearchPageRule& rule, const TreePage& page, std::u16string_view url,
                std::u16string_view name) {
    SearchResultSet results;
    if (ExtractSearchResults(rule, page.Text, results) == 0) {
        return false;
    }
    for (int32_t i = 0; i < results.count; ++i) {
        std::u16string address = results.NovelInfoPageUrl[static_cast<size_t>(i)];
        CompleteUrl(page.Url, address);
        if (address == url && ReadValue(results.NovelName[static_cast<size_t>(i)]) == name) {
            return true;
        }
    }
    return false;
}

void DraftSearch(const RuleDraftPages& pages, const std::u16string& name,
                 const std::u16string& author, Drafting& draft) {
    SearchPageRule& rule = draft.Rule.SearchPage;
    rule.SearchPageUrlFormat = pages.SearchUrlFormat;
    if (pages.SearchResults.Url.empty()) {
        return;
    }
    TreePage page = internal::ReadTreePage(pages.SearchResults.Url, pages.SearchResults.Text);
    size_t link = ElementLeadingTo(page, "a", "href", pages.Info.Url);
    size_t row = link == html::kNoElement ? link : ResultRow(page.Tree, link, author);
    if (row == html::kNoElement) {
        draft.Note(u"SearchPage",
                   u"搜索“" + name +
                       u"”的结果页上没有找到这本书的链接，请对照结果页补上结果模式。");
        return;
    }
    // The list of rows, or the nearest element around it that the source writes (not an implied
    // tbody).
    size_t list = page.Tree.Elements[row].Parent;
    while (page.Tree.Elements[list].Parent != html::kNoElement &&
           internal::StartTag(page, list).empty()) {
        list = page.Tree.Elements[list].Parent;
    }
    rule.SearcResultRegional = internal::RegionPattern({{&page, list}});
    rule.NovelInfoPageUrl = ParentPrefix(page, link) +
                            internal::TagPattern(internal::StartTag(page, link), "href", {"class"});
    rule.NovelName = LinkTextPattern(page, link);
    std::vector<std::u16string> authors;
    for (size_t i = row + 1; i < page.Tree.Elements.size() && internal::Within(page.Tree, i, row);
         ++i) {
        if (page.Tree.Elements[i].Children.empty() && ReadValue(page.Tree.TextOf(i)) == author) {
            std::u16string_view tag = internal::StartTag(page, i);
            authors.push_back(internal::TagPattern(tag, {}, {"id", "class"}) + u"([^<]+)" +
                              LiteralPattern(internal::EndTag(page, i)));
            break;
        }
    }
    rule.NovelAuthor = authors.empty() ? std::u16string() : authors.front();
    size_t latest = OtherLink(page.Tree, row, link);
    rule.LatestChapter =
        latest == html::kNoElement ? rule.NovelName : LinkTextPattern(page, latest);
    if (!FindsNovel(rule, page, pages.Info.Url, name)) {
        draft.Note(
            u"SearchPage",
            u"起草的结果模式在结果页上没有取到这本书（四个列表的条数要相同），请对照结果页修改。");
    }
}

} // namespace

// The ContentsUrl pattern of an information page whose link leads to the first contents page:
// the link's own markup and caption.
void DraftContentsLink(const TreePage& info, const std::u16string& contentsUrl, Drafting& draft) {
    size_t link = ElementLeadingTo(info, "a", "href", contentsUrl);
    if (link != html::kNoElement) {
        draft.Rule.InfoPage.ContentsUrl =
            internal::TagPattern(internal::StartTag(info, link), "href", {"class"}) +
            LiteralPattern(info.Tree.TextOf(link)) + u"</a>";
        std::u16string found = ExtractField(draft.Rule.InfoPage.ContentsUrl, info.Text);
        CompleteUrl(info.Url, found);
        if (found == contentsUrl) {
            return;
        }
        draft.Rule.InfoPage.ContentsUrl.clear();
    }
    draft.Note(u"InfoPage", u"没能写出从信息页找到目录页 " + contentsUrl +
                                u" 的 ContentsUrl，请按信息页上的目录链接补上。");
}

RuleDraft DraftRule(const RuleDraftPages& pages) {
    RuleDraft result;
    std::vector<ContentsSample> contents;
    const DraftPage& firstContents = pages.Contents.Url.empty() ? pages.Info : pages.Contents;
    for (const DraftPage* page : {&firstContents, &pages.NextContents}) {
        if (page->Url.empty()) {
            continue;
        }
        FoundChapterList found = FindChapterList(page->Text, page->Url);
        if (!found.Refusal.empty()) {
            if (contents.empty()) {
                result.Refusal = found.Refusal;
                return result;
            }
            break;
        }
        contents.push_back({internal::ReadTreePage(page->Url, page->Text), std::move(found)});
    }
    // A chapter's last page may lead on to the contents or to any chapter of the list (the
    // next one, on a later contents page too): a download stops there.
    std::vector<std::u16string> known;
    std::set<std::u16string> endings = {pages.Info.Url, firstContents.Url};
    for (const ContentsSample& sample : contents) {
        for (const std::u16string& url : sample.Found.Chapters.ChapterUrl) {
            if (endings.insert(url).second) {
                known.push_back(url);
            }
        }
    }
    std::vector<ChapterSample> chapters;
    for (const std::vector<DraftPage>& chapter : pages.Chapters) {
        ReadChapter(chapter, known, firstContents.Url, chapters, endings);
    }
    if (chapters.empty()) {
        result.Refusal = kNoChapterTextReason;
        return result;
    }
    Drafting draft;
    draft.Rule.SiteName = SiteNameOf(pages.Info);
    draft.Rule.SiteUrl = SiteUrlOf(pages.Info.Url);
    draft.Rule.Charset = DeclaredCharset(pages);
    if (pages.Contents.Url.empty()) {
        DraftNovelInfo(contents.front().Page, draft);
    } else {
        TreePage info = internal::ReadTreePage(pages.Info.Url, pages.Info.Text);
        DraftNovelInfo(info, draft);
        DraftContentsLink(info, pages.Contents.Url, draft);
    }
    DraftContents(contents, draft);
    DraftChapterText(chapters, endings, draft);
    FoundNovelInfo novel = FindNovelInfo(pages.Info.Text, pages.Info.Url);
    DraftSearch(pages, novel.Name, novel.Author, draft);
    result.Rule = std::move(draft.Rule);
    result.Notes = std::move(draft.Notes);
    return result;
}

} // namespace velunor::finder
