#pragma once
// The browser panel of the main window: it owns the browser control, keeps it sized to the
// panel, and turns the pages' "app:" links into the program's commands.

#include "app/html_ctrl.h"

#include <QWidget>

#include <string>

namespace velunor {

class CDlgHtml : public QWidget {
    Q_OBJECT

  public:
    /// A panel showing an empty page, with the "rest_down" and "recommend" commands.
    explicit CDlgHtml(QWidget* parent = nullptr);

    /// The browser control inside the panel.
    CHtmlCtrl& Browser();

    /// Shows Template/wait.html of the current directory. GUI thread.
    void ShowWaitPage();
    /// Starts showing `path` (see CHtmlCtrl::NavigateAsync); any thread, never blocks.
    void NavigateAsync(const std::u16string& path);
    /// Inner HTML of the element `id` of the page shown; empty when there is none. Any thread;
    /// blocks until the page has answered.
    std::u16string GetElementInnerHtml(const std::u16string& id);

  signals:
    /// A "rest_down" link was clicked: fetch the shown chapter again.
    void RestDownRequested();
    /// A "recommend" link was clicked: search for `novelName`.
    void RecommendRequested(const QString& novelName);
    /// The browser has finished showing the local file at `path` (absolute); not sent for
    /// addresses of sites or for a page that failed to load.
    void LocalPageShown(const QString& path);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnCommand(int command);
    void OnLoadFinished(bool ok);

    CHtmlCtrl browser_;
};

} // namespace velunor
