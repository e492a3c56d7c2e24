#include "cli/console_port.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "html/html.h"
#include "xml/xml_document.h"

namespace velunor::cli {
namespace {

constexpr std::u16string_view kFileScheme = u"file://";

std::u16string PathOfAddress(const std::u16string& address) {
    if (address.compare(0, kFileScheme.size(), kFileScheme) == 0) {
        return address.substr(kFileScheme.size());
    }
    return address;
}

} // namespace

std::u16string ConsolePort::SearchText() {
    std::lock_guard lock(mutex_);
    return searchText_;
}

void ConsolePort::SetSearchText(const std::u16string& text) {
    {
        std::lock_guard lock(mutex_);
        searchText_ = text;
    }
    Changed();
}

std::u16string ConsolePort::SearchButtonCaption() {
    std::lock_guard lock(mutex_);
    return caption_;
}

void ConsolePort::SetSearchButtonCaption(const std::u16string& caption) {
    {
        std::lock_guard lock(mutex_);
        caption_ = caption;
    }
    Changed();
}

void ConsolePort::SetStatusText(const std::u16string& text) {
    {
        std::lock_guard lock(mutex_);
        lastStatus_ = text;
        PrintLine(u"[" + text + u"]");
    }
    Changed();
}

ViewMode ConsolePort::GetViewMode() {
    std::lock_guard lock(mutex_);
    return viewMode_;
}

void ConsolePort::SetViewMode(ViewMode mode) {
    std::lock_guard lock(mutex_);
    viewMode_ = mode;
}

void ConsolePort::DeleteAllResultRows() {
    {
        std::lock_guard lock(mutex_);
        rows_.clear();
    }
    Changed();
}

int ConsolePort::ResultRowCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

void ConsolePort::AppendResultRow(const ResultRow& row) {
    {
        std::lock_guard lock(mutex_);
        rows_.push_back(row);
        PrintLine(row.Number + u". " + row.NovelName + u" | " + row.NovelAuthor + u" | " +
                  row.LatestChapter + u" | " + row.SiteName);
    }
    Changed();
}

// A terminal selects no row: velunor-cli download hands the job its hit itself.
int ConsolePort::FirstSelectedResultRow() {
    return -1;
}

ResultRow ConsolePort::ResultRowTexts(int row) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        return {};
    }
    return rows_[static_cast<size_t>(row)];
}

void ConsolePort::AppendBookItem(const std::u16string& text) {
    std::lock_guard lock(mutex_);
    PrintLine(u"bookshelf: " + text);
}

// The terminal lists the bookshelf only when asked to, and shows no progress unless a command
// that downloads asks for it.
void ConsolePort::BookShelfChanged() {}

void ConsolePort::NovelJobEnded(const std::u16string&) {}

void ConsolePort::ShowDownloadProgress(int, int, int) {}

void ConsolePort::ShowWaitPage() {}

void ConsolePort::NavigateAsync(const std::u16string& url) {
    {
        std::lock_guard lock(mutex_);
        pageFile_ = PathOfAddress(url);
        PrintLine(u"page: " + url);
    }
    Changed();
}

std::u16string ConsolePort::GetElementInnerHtml(const std::u16string& id) {
    std::u16string path;
    {
        std::lock_guard lock(mutex_);
        path = pageFile_;
    }
    std::u16string html;
    if (path.empty() || !CXmlDocument::ReadTextAsWide(nullptr, path, html, nullptr, nullptr)) {
        return {};
    }
    return FindElementInnerHtml(html, id);
}

MessageAnswer ConsolePort::ShowMessage(const std::u16string& text, MessageIcon,
                                       MessageButtons buttons) {
    std::lock_guard lock(mutex_);
    PrintLine(u"Velunor: " + text);
    if (buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    PrintLine(questionAnswer_ == MessageAnswer::Yes ? u"(answered Yes)" : u"(answered No)");
    return questionAnswer_;
}

void ConsolePort::ShowPageFile(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    pageFile_ = path;
}

void ConsolePort::AnswerQuestionsWith(MessageAnswer answer) {
    std::lock_guard lock(mutex_);
    questionAnswer_ = answer;
}

std::u16string ConsolePort::LastStatus() {
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

void ConsolePort::WaitUntil(const std::function<bool()>& condition,
                            std::chrono::milliseconds interval) {
    while (!condition()) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, interval);
    }
}

void ConsolePort::Changed() {
    changed_.notify_all();
}

std::u16string FindElementInnerHtml(const std::u16string& html, const std::u16string& id) {
    return html::ElementInnerHtml(html, id);
}

} // namespace velunor::cli
