#pragma once
// A window port for tests: it keeps what the jobs show, answers message boxes with a chosen
// button, and lets a test wait for a condition without sleeping.

#include "port/window_port.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace velunor::testing {

struct RecordedMessage {
    std::u16string text;
    MessageIcon icon;
    MessageButtons buttons;
};

/// One progress report of a download.
struct DownloadProgress {
    int done;
    int total;
    int failed;
};

class RecordingPort : public WindowPort {
    // Defined first: the members below deduce their result types from these.
    template <typename F> auto Read(F read) {
        std::lock_guard lock(mutex_);
        return read();
    }

    template <typename F> void Change(F change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

  public:
    std::u16string SearchText() override {
        return Read([&] { return searchText_; });
    }
    void SetSearchText(const std::u16string& text) override {
        Change([&] { searchText_ = text; });
    }
    std::u16string SearchButtonCaption() override {
        return Read([&] { return caption_; });
    }
    void SetSearchButtonCaption(const std::u16string& caption) override {
        Change([&] { caption_ = caption; });
    }
    void SetStatusText(const std::u16string& text) override {
        Change([&] { statuses_.push_back(text); });
    }
    ViewMode GetViewMode() override {
        return Read([&] { return viewMode_; });
    }
    void SetViewMode(ViewMode mode) override {
        Change([&] { viewMode_ = mode; });
    }
    void DeleteAllResultRows() override {
        Change([&] { rows_.clear(); });
    }
    int ResultRowCount() override {
        return Read([&] { return static_cast<int>(rows_.size()); });
    }
    void AppendResultRow(const ResultRow& row) override {
        Change([&] { rows_.push_back(row); });
    }
    int FirstSelectedResultRow() override {
        return Read([&] { return selectedRow_; });
    }
    ResultRow ResultRowTexts(int row) override {
        return Read([&] {
            if (row < 0 || row >= static_cast<int>(rows_.size())) {
                return ResultRow{};
            }
            return rows_[static_cast<size_t>(row)];
        });
    }
    void AppendBookItem(const std::u16string& text) override {
        Change([&] { bookItems_.push_back(text); });
    }
    void BookShelfChanged() override {
        Change([&] { ++shelfChanges_; });
    }
    void NovelJobEnded(const std::u16string& folder) override {
        Change([&] { endedJobs_.push_back(folder); });
    }
    void ShowDownloadProgress(int done, int total, int failed) override {
        Change([&] { progress_.push_back({done, total, failed}); });
    }
    void ShowWaitPage() override {
        Change([&] { ++waitPages_; });
    }
    void NavigateAsync(const std::u16string& url) override {
        Change([&] { navigations_.push_back(url); });
    }
    std::u16string GetElementInnerHtml(const std::u16string& id) override {
        return Read([&] {
            auto found = elements_.find(id);
            return found == elements_.end() ? std::u16string() : found->second;
        });
    }
    MessageAnswer ShowMessage(const std::u16string& text, MessageIcon icon,
                              MessageButtons buttons) override {
        Change([&] { messages_.push_back({text, icon, buttons}); });
        return Read([&] { return answer_; });
    }

    // What a test sets up.
    void SelectRow(int row) {
        Change([&] { selectedRow_ = row; });
    }
    void SetElement(const std::u16string& id, const std::u16string& html) {
        Change([&] { elements_[id] = html; });
    }
    void AnswerMessagesWith(MessageAnswer answer) {
        Change([&] { answer_ = answer; });
    }

    // What a test reads.
    std::vector<std::u16string> Statuses() {
        return Read([&] { return statuses_; });
    }
    std::u16string LastStatus() {
        return Read([&] { return statuses_.empty() ? std::u16string() : statuses_.back(); });
    }
    std::vector<ResultRow> Rows() {
        return Read([&] { return rows_; });
    }
    std::vector<std::u16string> BookItems() {
        return Read([&] { return bookItems_; });
    }
    std::vector<std::u16string> Navigations() {
        return Read([&] { return navigations_; });
    }
    std::vector<RecordedMessage> Messages() {
        return Read([&] { return messages_; });
    }
    std::vector<DownloadProgress> Progress() {
        return Read([&] { return progress_; });
    }
    /// The novel folders whose jobs ended, in order.
    std::vector<std::u16string> EndedJobs() {
        return Read([&] { return endedJobs_; });
    }
    int ShelfChanges() {
        return Read([&] { return shelfChanges_; });
    }
    int WaitPages() {
        return Read([&] { return waitPages_; });
    }

    /// Waits until `condition` holds (checked after every change); false after `timeout`.
    bool WaitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            lock.unlock();
            bool holds = condition();
            lock.lock();
            return holds;
        });
    }

    /// Waits until the status line has shown `text`.
    bool WaitForStatus(const std::u16string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return WaitUntil(
            [&] {
                for (const std::u16string& status : Statuses()) {
                    if (status == text) {
                        return true;
                    }
                }
                return false;
            },
            timeout);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::u16string searchText_;
    std::u16string caption_ = u"搜索";
    std::vector<std::u16string> statuses_;
    ViewMode viewMode_ = ViewMode::Recommend;
    std::vector<ResultRow> rows_;
    int selectedRow_ = -1;
    std::vector<std::u16string> bookItems_;
    int waitPages_ = 0;
    int shelfChanges_ = 0;
    std::vector<std::u16string> endedJobs_;
    std::vector<DownloadProgress> progress_;
    std::vector<std::u16string> navigations_;
    std::map<std::u16string, std::u16string> elements_;
    std::vector<RecordedMessage> messages_;
    MessageAnswer answer_ = MessageAnswer::Ok;
};

} // namespace velunor::testing
