#pragma once
// The window port of velunor-cli: status lines and list rows go to the terminal, message boxes
// print their text and take a fixed answer, and the list and the bookshelf are kept in memory.

#include "port/window_port.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velunor::cli {

class ConsolePort : public WindowPort {
  public:
    std::u16string SearchText() override;
    void SetSearchText(const std::u16string& text) override;
    std::u16string SearchButtonCaption() override;
    void SetSearchButtonCaption(const std::u16string& caption) override;
    void SetStatusText(const std::u16string& text) override;
    ViewMode GetViewMode() override;
    void SetViewMode(ViewMode mode) override;
    void DeleteAllResultRows() override;
    int ResultRowCount() override;
    void AppendResultRow(const ResultRow& row) override;
    int FirstSelectedResultRow() override;
    ResultRow ResultRowTexts(int row) override;
    void AppendBookItem(const std::u16string& text) override;
    void BookShelfChanged() override;
    void NovelJobEnded(const std::u16string& folder) override;
    void ShowDownloadProgress(int done, int total, int failed) override;
    void ShowWaitPage() override;
    void NavigateAsync(const std::u16string& url) override;
    /// Reads the element from the page file last navigated to (or set with ShowPageFile).
    std::u16string GetElementInnerHtml(const std::u16string& id) override;
    MessageAnswer ShowMessage(const std::u16string& text, MessageIcon icon,
                              MessageButtons buttons) override;

    /// The page whose elements GetElementInnerHtml reads.
    void ShowPageFile(const std::u16string& path);
    /// The answer every Yes/No message box gets.
    void AnswerQuestionsWith(MessageAnswer answer);
    /// The last status line shown; empty when none was.
    std::u16string LastStatus();

    /// Waits until `condition` holds, checking after every change and at least every
    /// `interval` (so that a signal flag set outside the port is seen too).
    void WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds interval);

  private:
    void Changed();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::u16string searchText_;
    std::u16string caption_ = u"搜索";
    std::u16string lastStatus_;
    ViewMode viewMode_ = ViewMode::Recommend;
    std::vector<ResultRow> rows_;
    std::u16string pageFile_;
    MessageAnswer questionAnswer_ = MessageAnswer::No;
};

/// Inner HTML of the first element whose id attribute is `id` in `html`; empty when none.
std::u16string FindElementInnerHtml(const std::u16string& html, const std::u16string& id);

} // namespace velunor::cli
