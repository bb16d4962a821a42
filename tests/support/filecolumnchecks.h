#pragma once

// Both file lists (main window, history) show "schwarz/weiß" and "laminieren" whole, give
// the file name the spare width and reach the list's right edge.
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
