#pragma once

#include <QStringList>

#include <map>

class QTreeView;

namespace kestro::ui {

// Sizes the columns of a file list (the job's file rows) to what they show: each value
// column as wide as its heading, its widest cell and the widest of `choices[column]` (what
// the worker may still pick for it), and the file name takes the spare width, so that no
// value is cut and the header reaches the list's right edge.
void fitFileListColumns(QTreeView* list, const std::map<int, QStringList>& choices = {});

} // namespace kestro::ui
