#include "app/view_history.h"

namespace velunor {

CViewHistory::CViewHistory(const std::u16string& recommendFolder, QUrl startPage)
    : recommendFolder_(QString::fromStdU16String(recommendFolder)),
      recommendPage_(std::move(startPage)) {}

void CViewHistory::NoteViewChange(ViewMode from, ViewMode to) {
    if (to == ViewMode::Reading && from != ViewMode::Reading) {
        returnMode_ = from;
    }
}

void CViewHistory::NoteShownPage(const QUrl& url) {
    if (url.isLocalFile() && url.toLocalFile().startsWith(recommendFolder_)) {
        recommendPage_ = url;
    }
}

ViewMode CViewHistory::ReturnMode() const {
    return returnMode_;
}

const QUrl& CViewHistory::RecommendPage() const {
    return recommendPage_;
}

QString CViewHistory::BackCaption() const {
    if (returnMode_ == ViewMode::SearchResults) {
        return QStringLiteral("返回搜索结果");
    }
    return QStringLiteral("返回书架");
}

} // namespace velunor
