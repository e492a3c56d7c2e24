// The text of a rule file, written as a rule author writes one: elements in the format's order,
// patterns in CDATA sections, notes as comments before what they are about.

#include "finder/internal/page_reading.h"
#include "finder/rule_draft.h"

#include "core/core.h"

#include <set>

namespace velunor::finder {
namespace {

// Writes a rule file's text element by element, each note before the element it names.
class RuleWriter {
  public:
    explicit RuleWriter(const std::vector<DraftNote>& notes) : notes_(notes) {}

    void Open(std::u16string_view name) {
        WriteNotes(name);
        text_ += u"<" + std::u16string(name) + u">\n";
    }
    void Close(std::u16string_view name) {
        text_ += u"</" + std::u16string(name) + u">\n";
    }
    void Element(std::u16string_view name, std::u16string_view value) {
        WriteNotes(name);
        text_ += u"<" + std::u16string(name) + u">" + Value(value) + u"</" + std::u16string(name) +
                 u">\n";
    }
    // The notes that name no element written, at the top of the file.
    std::u16string Finish(const std::set<std::u16string>& written) {
        std::u16string top = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        for (const DraftNote& note : notes_) {
            if (written.count(note.Element) == 0) {
                top += Comment(note.Text);
            }
        }
        return top + text_;
    }
    const std::set<std::u16string>& Written() const {
        return written_;
    }

  private:
    void WriteNotes(std::u16string_view name) {
        if (!written_.insert(std::u16string(name)).second) {
            return;
        }
        for (const DraftNote& note : notes_) {
            if (note.Element == name) {
                text_ += Comment(note.Text);
            }
        }
    }

    // A comment cannot hold "--"; a note is prose, so a space between the dashes loses nothing.
    static std::u16string Comment(std::u16string_view note) {
        std::u16string text(note);
        for (size_t at = text.find(u"--"); at != text.npos; at = text.find(u"--", at)) {
            text.insert(at + 1, u" ");
        }
        return u"<!-- " + text + u" -->\n";
    }

    // Patterns go into CDATA so that they stay as written; a "]]>" in one is split across two
    // sections.
    static std::u16string Value(std::u16string_view value) {
        if (value.find_first_of(u"<>&") == value.npos) {
            return std::u16string(value);
        }
        std::u16string text(value);
        for (size_t at = text.find(u"]]>"); at != text.npos; at = text.find(u"]]>", at)) {
            text.replace(at, 3, u"]]]]><![CDATA[>");
            at += 15;
        }
        return u"<![CDATA[" + text + u"]]>";
    }

    const std::vector<DraftNote>& notes_;
    std::set<std::u16string> written_;
    std::u16string text_;
};

} // namespace

std::u16string WriteRuleXml(const CSiteRule& rule, const std::vector<DraftNote>& notes) {
    RuleWriter writer(notes);
    writer.Open(u"Channel");
    writer.Element(u"SiteName", rule.SiteName);
    writer.Element(u"SiteUrl", rule.SiteUrl);
    writer.Element(u"Charset", rule.Charset);
    writer.Element(u"ReplaceRule", rule.ReplaceRule);
    if (!rule.RequestInterval.empty()) {
        writer.Element(u"RequestInterval", rule.RequestInterval);
    }
    if (!rule.RetryCount.empty()) {
        writer.Element(u"RetryCount", rule.RetryCount);
    }
    const SearchPageRule& search = rule.SearchPage;
    writer.Open(u"SearchPage");
    writer.Element(u"SearchPageUrlFormat", search.SearchPageUrlFormat);
    writer.Element(u"SearcResultRegional", search.SearcResultRegional);
    writer.Element(u"NovelInfoPageUrl", search.NovelInfoPageUrl);
    writer.Element(u"NovelName", search.NovelName);
    writer.Element(u"NovelAuthor", search.NovelAuthor);
    writer.Element(u"LatestChapter", search.LatestChapter);
    writer.Close(u"SearchPage");
    const InfoPageRule& info = rule.InfoPage;
    writer.Open(u"InfoPage");
    writer.Element(u"NovelSort", info.NovelSort);
    writer.Element(u"NovelName", info.NovelName);
    writer.Element(u"NovelAuthor", info.NovelAuthor);
    writer.Element(u"NovelState", info.NovelState);
    writer.Element(u"NovelIntro", info.NovelIntro);
    writer.Element(u"LatestChapter", info.LatestChapter);
    writer.Element(u"ContentsUrl", info.ContentsUrl);
    writer.Close(u"InfoPage");
    const ContentsPageRule& contents = rule.ContentsPage;
    writer.Open(u"ContentsPage");
    writer.Element(u"ContentsRegional", contents.ContentsRegional);
    writer.Element(u"ChapterName", contents.ChapterName);
    writer.Element(u"ChapterUrl", contents.ChapterUrl);
    writer.Element(u"ContentsNextPageUrl", contents.ContentsNextPageUrl);
    writer.Element(u"VolumeName", contents.VolumeName);
    writer.Close(u"ContentsPage");
    writer.Open(u"ContentPage");
    writer.Element(u"ChapterContent", rule.ChapterContent);
    writer.Element(u"ChapterNextPageUrl", rule.ChapterNextPageUrl);
    writer.Close(u"ContentPage");
    writer.Close(u"Channel");
    std::set<std::u16string> written = writer.Written();
    return writer.Finish(written);
}

std::u16string SiteUrlOf(std::u16string_view url) {
    std::u16string_view root = AddressOrigin(url);
    return root.empty() ? std::u16string() : std::u16string(root) + u"/";
}

std::u16string DraftFileName(std::u16string_view url) {
    std::u16string_view root = AddressOrigin(url);
    size_t hostStart = root.find(u"://");
    std::u16string_view host = hostStart == root.npos ? u"" : root.substr(hostStart + 3);
    host = host.substr(0, host.find(u':'));
    if (host.empty() || host == u"." || host == u"..") {
        return u"site.xml";
    }
    return std::u16string(host) + u".xml";
}

} // namespace velunor::finder
