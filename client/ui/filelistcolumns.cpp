#include "client/ui/filelistcolumns.h"

#include "client/compose/filelistmodel.h"

#include <QHeaderView>
#include <QStyle>
#include <QTreeView>

namespace kestro::ui {

void fitFileListColumns(QTreeView* list, const std::map<int, QStringList>& choices) {
    using M = compose::FileListModel;
    QHeaderView* header = list->header();
    const QFontMetrics metrics = list->fontMetrics();
    // Room for the cell's margins and the header's sort marker.
    const int padding =
        2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 16;
    // The numbers a row can hold at most.
    std::map<int, QStringList> wanted = {{M::Number, {QStringLiteral("999")}},
                                         {M::Copies, {QStringLiteral("100")}}};
    for (const auto& [column, entries] : choices)
        wanted[column] += entries;
    for (int column = 0; column < M::ColumnCount; ++column) {
        if (column == M::FileName)
            continue;
        // The view's own measure of the rows' cells (protected in the tree view).
        int width = qMax(header->sectionSizeHint(column),
                         static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(column));
        for (const QString& entry : wanted[column])
            width = qMax(width, metrics.horizontalAdvance(entry) + padding);
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        header->resizeSection(column, width);
    }
    header->setSectionResizeMode(M::FileName, QHeaderView::Stretch);
}

} // namespace kestro::ui
