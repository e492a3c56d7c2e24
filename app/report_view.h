#pragma once
// The report-view look that the shell's lists share: column headers with fixed pixel widths, grid
// lines, whole rows selected, no editing and no wrapping.

#include <QTableWidget>

#include <span>

namespace velunor {

/// One column of a report view: its header text and its width in pixels.
struct ReportColumn {
    const char16_t* header;
    int width;
};

/// Gives `list` the columns `columns` and the report-view look. GUI thread.
void MakeReportView(QTableWidget& list, std::span<const ReportColumn> columns);

} // namespace velunor
