#include "app/report_view.h"

#include <QHeaderView>

namespace velunor {

void MakeReportView(QTableWidget& list, std::span<const ReportColumn> columns) {
    list.setColumnCount(static_cast<int>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i) {
        const int column = static_cast<int>(i);
        list.setHorizontalHeaderItem(column,
                                     new QTableWidgetItem(QString::fromUtf16(columns[i].header)));
        list.setColumnWidth(column, columns[i].width);
    }
    list.horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list.horizontalHeader()->setHighlightSections(false);
    list.verticalHeader()->hide();
    list.setShowGrid(true);
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.setWordWrap(false);
}

} // namespace velunor
