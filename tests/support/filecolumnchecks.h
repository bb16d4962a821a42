#pragma once

// The check both file lists (the main window's and the history's) must pass: the values
// "schwarz/weiß" and "laminieren" are shown whole, the file name takes the spare width and
// the header reaches the list's right edge.
#include "client/compose/filelistmodel.h"

#include <QHeaderView>
#include <QTreeView>
#include <gtest/gtest.h>

namespace kestro::test {

inline void expectFileColumnsFit(QTreeView* list) {
    using M = compose::FileListModel;
    QHeaderView* header = list->header();
    const QFontMetrics metrics = list->fontMetrics();
    EXPECT_GT(header->sectionSize(M::Color),
              metrics.horizontalAdvance(QStringLiteral("schwarz/weiß")));
    EXPECT_GT(header->sectionSize(M::Step3),
              metrics.horizontalAdvance(QStringLiteral("laminieren")));
    EXPECT_EQ(header->length(), list->viewport()->width());
    for (int c = 0; c < M::ColumnCount; ++c)
        EXPECT_GE(header->sectionSize(M::FileName), header->sectionSize(c));
}

} // namespace kestro::test
