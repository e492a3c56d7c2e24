#include "app/dlg_html.h"

#include "app/command_ids.h"

#include <QDir>

#include <algorithm>
#include <array>

namespace velunor {

namespace {

// "rest_down" comes first: a link naming both fetches before it searches.
constexpr std::array kCommandTable{
    AppCommand{u"rest_down", kIdRestDown},
    AppCommand{u"recommend", kIdRecommend},
};

// The browser's sunken edge lies outside the panel, and the browser keeps a margin of this
// many pixels from the panel's right and bottom edges.
constexpr int kEdge = 2;
constexpr int kMargin = 20;

} // namespace

CDlgHtml::CDlgHtml(QWidget* parent) : QWidget(parent), browser_(this) {
    browser_.SetCommandTable(kCommandTable);
    // Queued, so that a command's handler reads the text of the link that sent it.
    connect(&browser_, &CHtmlCtrl::CommandPosted, this, &CDlgHtml::OnCommand, Qt::QueuedConnection);
    connect(&browser_, &CHtmlCtrl::loadFinished, this, &CDlgHtml::OnLoadFinished);
}

CHtmlCtrl& CDlgHtml::Browser() {
    return browser_;
}

void CDlgHtml::ShowWaitPage() {
    browser_.load(QUrl::fromLocalFile(
        QDir::current().absoluteFilePath(QStringLiteral("Template/wait.html"))));
    browser_.update();
}

void CDlgHtml::NavigateAsync(const std::u16string& path) {
    browser_.NavigateAsync(path);
}

std::u16string CDlgHtml::GetElementInnerHtml(const std::u16string& id) {
    return browser_.GetElementInnerHtml(id);
}

void CDlgHtml::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    browser_.setGeometry(-kEdge, -kEdge, std::max(0, width() - kMargin),
                         std::max(0, height() - kMargin));
}

void CDlgHtml::OnCommand(int command) {
    if (command == kIdRestDown) {
        emit RestDownRequested();
        return;
    }
    if (command == kIdRecommend) {
        QString novelName = browser_.LastAppCommand();
        novelName.remove(QStringLiteral("recommend/"));
        emit RecommendRequested(novelName);
    }
}

// Whatever opened the page (a link in the contents page, the bookshelf, a chapter's own
// "next" link), the reader now sees it.
void CDlgHtml::OnLoadFinished(bool ok) {
    const QUrl shown = browser_.url();
    if (!ok || !shown.isLocalFile()) {
        return;
    }
    emit LocalPageShown(shown.toLocalFile());
}

} // namespace velunor
