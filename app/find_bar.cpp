#include "app/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace velunor {

CFindBar::CFindBar(QWebEngineView& view, QWidget* parent) : QFrame(parent), view_(view) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 3, 3);
    text_ = new QLineEdit(this);
    text_->setPlaceholderText(QStringLiteral("在本章中查找"));
    text_->installEventFilter(this);
    matches_ = new QLabel(this);
    matches_->setMinimumWidth(56);
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("×"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &CFindBar::Close);
    row->addWidget(text_);
    row->addWidget(matches_);
    row->addWidget(close);
    // Typing searches as it goes, from the start of the page.
    connect(text_, &QLineEdit::textEdited, this, [this] { Find(false); });
    connect(view_.page(), &QWebEnginePage::findTextFinished, this,
            [this](const QWebEngineFindTextResult& result) {
                if (text_->text().isEmpty()) {
                    matches_->clear();
                } else if (result.numberOfMatches() == 0) {
                    matches_->setText(QStringLiteral("无匹配"));
                } else {
                    matches_->setText(QStringLiteral("%1 / %2")
                                          .arg(result.activeMatch())
                                          .arg(result.numberOfMatches()));
                }
            });
    hide();
}

void CFindBar::Open() {
    show();
    raise();
    text_->setFocus();
    text_->selectAll();
}

void CFindBar::Close() {
    hide();
    text_->clear();
    matches_->clear();
    view_.page()->findText(QString());
    view_.setFocus();
}

QLineEdit& CFindBar::TextBox() {
    return *text_;
}

QString CFindBar::MatchText() const {
    return matches_->text();
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != text_ || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        Close();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Find((key->modifiers() & Qt::ShiftModifier) != 0);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void CFindBar::Find(bool backward) {
    QWebEnginePage::FindFlags flags;
    if (backward) {
        flags |= QWebEnginePage::FindBackward;
    }
    view_.page()->findText(text_->text(), flags);
}

} // namespace velunor
