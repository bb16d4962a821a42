#include "client/ui/compose_foldertree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTimer>

namespace kestro::ui {

FolderTree::FolderTree(QWidget* parent) : QTreeView(parent), model_(new QFileSystemModel(this)) {
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(true);
    model_->setRootPath(QStringLiteral("/"));
    setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        hideColumn(column);
    header()->hide();
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Folders load in the background: once the one holding the current folder is in,
    // bring the current folder into view.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
        // The model sorts the new folders on its next turn; scroll after that.
        QTimer::singleShot(0, this, [this] {
            if (currentIndex().isValid())
                scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
        });
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    Q_EMIT currentPathChanged(model_->filePath(current));
            });
}

bool FolderTree::setCurrentPath(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir())
        return false;
    const QModelIndex index = model_->index(info.absoluteFilePath());
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        expand(up);
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

QString FolderTree::currentPath() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? model_->filePath(index) : QString();
}

} // namespace kestro::ui
