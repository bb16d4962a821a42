#pragma once

#include "client/compose/folderlister.h"

#include <QAbstractTableModel>

namespace kestro::compose {

// The files of the folder shown in the file window: name and size text, in the order
// they were listed. Rows are appended in batches as the lister delivers them.
class FolderListingModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Size, ColumnCount };

    explicit FolderListingModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void append(const QList<ListedFile>& files);
    void clear();
    const ListedFile& file(int row) const { return files_.at(row); }

private:
    QList<ListedFile> files_;
    QStringList sizeTexts_;
};

} // namespace kestro::compose
