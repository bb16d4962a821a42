#pragma once

class QAbstractItemModel;
class QString;
class QTreeView;
class QWidget;

namespace kestro::ui {

// A list in report view over `model`, as the history windows show their rows: whole rows
// selected, no editing, no tree decoration, alternating row colours, columns sized by the
// window.
QTreeView* makeReportList(QWidget* parent, const QString& objectName, QAbstractItemModel* model);

} // namespace kestro::ui
