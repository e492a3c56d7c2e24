#pragma once
// The dialog "为此站生成规则": drafts a rule file for a site that has none, from the address of
// one of its novels (and, if given, the address of its search with "{KEY}"), shows the draft and
// how its check on the site went, and saves it into the user's rule folder (Rule/), where it
// works as any rule does from then on.

#include <QDialog>

#include <atomic>
#include <string>
#include <thread>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace velunor {

namespace draft {
struct SiteRuleDraft;
}

class CDlgRuleDraft : public QDialog {
    Q_OBJECT

  public:
    /// The dialog for the program folder `programFolder` (ending in "/"), its address field
    /// holding `url` (may be empty). GUI thread.
    CDlgRuleDraft(std::u16string programFolder, const std::u16string& url,
                  QWidget* parent = nullptr);
    /// Waits for a draft still being made, having asked it to stop.
    ~CDlgRuleDraft() override;

    /// Starts drafting from the addresses in the fields, on a thread of its own. GUI thread.
    void Draft();
    /// Writes the shown draft into the user's rule folder, asking first (default 否) when a file of
    /// its name is there. GUI thread; blocks on the disk.
    void Save();

    /// True while a draft is being made. GUI thread.
    bool IsDrafting() const;
    /// The line that says how the last draft went. GUI thread.
    QString Verdict() const;
    /// The draft as shown (and as the reader may have edited it). GUI thread.
    QString DraftText() const;
    /// The path the last Save wrote, empty when it wrote nothing. GUI thread.
    const std::u16string& SavedPath() const;

  signals:
    /// A draft has been shown, or refused.
    void DraftFinished();

  private:
    void ShowDraft(const draft::SiteRuleDraft& made);

    std::u16string programFolder_;
    std::u16string fileName_;
    std::u16string savedPath_;
    QLineEdit* address_ = nullptr;
    QLineEdit* search_ = nullptr;
    QPushButton* draftButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QLabel* verdict_ = nullptr;
    QPlainTextEdit* rule_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    // The drafting thread; a closed dialog asks it to stop and waits the moment that takes.
    std::thread worker_;
    std::atomic<bool> stop_{false};
};

} // namespace velunor
