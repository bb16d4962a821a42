#pragma once

#include <QTreeView>

class QFileSystemModel;

namespace kestro::ui {

// A tree of the machine's folders (no files) that reports and accepts a current path, as
// the file window and the start-folder window need it. Folders load lazily as they are
// expanded, so even a large disk opens at once.
class FolderTree : public QTreeView {
    Q_OBJECT
public:
    explicit FolderTree(QWidget* parent = nullptr);

    // Selects, expands to and shows `path`; false when the folder does not exist.
    bool setCurrentPath(const QString& path);
    // The folder selected now, or the empty text when none is.
    QString currentPath() const;

Q_SIGNALS:
    // The user (or setCurrentPath) moved to another folder.
    void currentPathChanged(const QString& path);

private:
    QFileSystemModel* model_;
};

} // namespace kestro::ui
