#pragma once
// The browser control: a web view that shows local pages without running their scripts and
// turns the "app:" links a user clicks into program commands.

#include <QString>
#include <QWebEngineView>

#include <span>
#include <string>

namespace velunor {

/// One entry of a command table: an "app:" address containing `name` sends `command`.
struct AppCommand {
    const char16_t* name;
    int command;
};

class CHtmlCtrl : public QWebEngineView {
    Q_OBJECT

  public:
    /// A view whose pages may not run scripts, with no context menu and no command table.
    explicit CHtmlCtrl(QWidget* parent = nullptr);

    /// The table that "app:" addresses are matched against; not owned, must outlive the
    /// control. An empty table makes every "app:" address a dead link. GUI thread only.
    void SetCommandTable(std::span<const AppCommand> table);

    /// The text of the last "app:" address handled, without its "app:". GUI thread only.
    QString LastAppCommand() const;

    /// Shows the page at `path` (a file path, absolute or relative to the current directory, or
    /// a URL) and returns at once, from any thread; the page changes shortly afterwards.
    void NavigateAsync(const std::u16string& path);

    /// Inner HTML of the element with `id` in the page shown at the time of the call; empty when
    /// there is none. Any thread; blocks until the page has answered (on the GUI thread it runs
    /// the event loop meanwhile).
    std::u16string GetElementInnerHtml(const std::u16string& id);

    /// The address NavigateAsync loads for `path`. Any thread.
    static QUrl PageUrl(const std::u16string& path);

  signals:
    /// An "app:" link matched a table entry. Every matching entry is sent, in table order; the
    /// receiver should connect queued, so that it reads the new LastAppCommand.
    void CommandPosted(int command);

  protected:
    /// Called for every "app:" address a user opened with a click; `text` is the address
    /// without "app:". GUI thread.
    virtual void OnAppCommand(const QString& text);

  private:
    friend class AppLinkPage;
    bool AcceptNavigation(const QUrl& url, bool clickedInMainFrame);

    std::span<const AppCommand> commandTable_;
    QString lastAppCommand_;
};

} // namespace velunor
