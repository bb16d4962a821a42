#include "client/ui/reportlist.h"

#include <QHeaderView>
#include <QTreeView>

namespace kestro::ui {

QTreeView* makeReportList(QWidget* parent, const QString& objectName, QAbstractItemModel* model) {
    auto* list = new QTreeView(parent);
    list->setObjectName(objectName);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setStretchLastSection(false);
    return list;
}

} // namespace kestro::ui
