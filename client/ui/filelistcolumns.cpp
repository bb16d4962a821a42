#include "client/ui/filelistcolumns.h"

#include "client/compose/filelistmodel.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <vector>

namespace kestro::ui {

std::map<int, int> capWidths(const std::map<int, int>& wanted, int room) {
    std::vector<int> ascending;
    int total = 0;
    for (const auto& [column, width] : wanted) {
        ascending.push_back(width);
        total += width;
    }
    if (total <= room)
        return wanted;
    std::sort(ascending.begin(), ascending.end());
    // The narrow columns keep their width while the wide ones share what is left.
    int left = qMax(0, room);
    int cap = 0;
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        const int sharing = static_cast<int>(ascending.size() - i);
        if (ascending[i] * sharing > left) {
            cap = left / sharing;
            break;
        }
        left -= ascending[i];
    }
    std::map<int, int> capped;
    for (const auto& [column, width] : wanted)
        capped[column] = qMin(width, cap);
    return capped;
}

FileListColumnFitter::FileListColumnFitter(QTreeView* list, ChoicesSource choices)
    : QObject(list), list_(list), choices_(std::move(choices)) {
    QAbstractItemModel* model = list->model();
    // Values applied, loaded or added may be longer than the catalogue's: the columns follow.
    connect(model, &QAbstractItemModel::dataChanged, this, &FileListColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::modelReset, this, &FileListColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::rowsInserted, this, &FileListColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &FileListColumnFitter::scheduleFit);
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

void FileListColumnFitter::scheduleFit() {
    if (pending_)
        return;
    pending_ = true;
    QTimer::singleShot(0, this, &FileListColumnFitter::fitNow);
}

bool FileListColumnFitter::eventFilter(QObject* watched, QEvent* event) {
    // The viewport's width is the room the header has to fill.
    if ((watched == list_->viewport() && event->type() == QEvent::Resize) ||
        (watched == list_ && event->type() == QEvent::Show))
        fitNow();
    return QObject::eventFilter(watched, event);
}

void FileListColumnFitter::fitNow() {
    pending_ = false;
    using M = compose::FileListModel;
    QHeaderView* header = list_->header();
    const QFontMetrics metrics = list_->fontMetrics();
    // Room for the cell's margins and the header's sort marker.
    const int padding =
        2 * list_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 16;
    // The numbers a row can hold at most.
    std::map<int, QStringList> wanted = {{M::Number, {QStringLiteral("999")}},
                                         {M::Copies, {QStringLiteral("100")}}};
    if (choices_)
        for (const auto& [column, entries] : choices_())
            wanted[column] += entries;
    std::map<int, int> widths;
    for (int column = 0; column < M::ColumnCount; ++column) {
        if (column == M::FileName)
            continue;
        // The view's own measure of the visible rows' cells (protected in the tree view).
        int width = qMax(header->sectionSizeHint(column),
                         static_cast<const QAbstractItemView*>(list_)->sizeHintForColumn(column));
        for (const QString& entry : wanted[column])
            width = qMax(width, metrics.horizontalAdvance(entry) + padding);
        widths[column] = width;
    }
    const int room = list_->viewport()->width();
    const int nameRoom =
        qMax(header->sectionSizeHint(M::FileName), static_cast<int>(room * fileNameShare));
    for (const auto& [column, width] : capWidths(widths, room - nameRoom)) {
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        header->resizeSection(column, qMax(width, header->minimumSectionSize()));
    }
    header->setSectionResizeMode(M::FileName, QHeaderView::Stretch);
}

QTreeView* newFileListView(QAbstractItemModel* model, QWidget* parent) {
    auto* list = new QTreeView(parent);
    list->setObjectName(QStringLiteral("ListView1"));
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setStretchLastSection(false);
    return list;
}

} // namespace kestro::ui
