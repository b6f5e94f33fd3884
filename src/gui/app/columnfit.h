// Column widths of the window's lists.
#pragma once

#include <QHeaderView>
#include <QString>
#include <algorithm>

namespace tarnhold::gui {

// A date column at least as wide as a date with its time: the classic
// widths fit a narrower font than the window's.
inline void FitDateColumn(QHeaderView* header, int column) {
    const int needed =
        header->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00")) + 16;
    header->resizeSection(column, std::max(header->sectionSize(column), needed));
}

} // namespace tarnhold::gui
