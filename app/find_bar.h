#pragma once
// The find bar of the browser panel: a small box over the page's top right corner that finds
// text in the page shown. Enter finds the next match, Shift+Enter the one before, Esc closes the
// bar and clears the marks; the bar says which match is shown of how many.

#include <QFrame>

class QLabel;
class QLineEdit;
class QWebEngineView;

namespace velunor {

class CFindBar : public QFrame {
    Q_OBJECT

  public:
    /// A hidden bar that finds in the page `view` shows. GUI thread.
    CFindBar(QWebEngineView& view, QWidget* parent);

    /// Shows the bar with its text selected and the keyboard in it. GUI thread.
    void Open();
    /// Hides the bar, clears the marks and gives the keyboard back to the page. GUI thread.
    void Close();
    /// The box the text is typed into.
    QLineEdit& TextBox();
    /// "3 / 12", "无匹配", or empty before the first search.
    QString MatchText() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Find(bool backward);

    QWebEngineView& view_;
    QLineEdit* text_ = nullptr;
    QLabel* matches_ = nullptr;
};

} // namespace velunor
