#include "client/compose/folderlistingmodel.h"

#include "client/compose/choicelists.h"

namespace kestro::compose {

FolderListingModel::FolderListingModel(QObject* parent) : QAbstractTableModel(parent) {}

int FolderListingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int FolderListingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FolderListingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= files_.size())
        return {};
    if (role == Qt::DisplayRole)
        return index.column() == Name ? files_.at(index.row()).name : sizeTexts_.at(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant FolderListingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section == Name ? QStringLiteral("Datei") : QStringLiteral("Größe");
    return QAbstractTableModel::headerData(section, orientation, role);
}

void FolderListingModel::append(const QList<ListedFile>& files) {
    if (files.isEmpty())
        return;
    const int first = static_cast<int>(files_.size());
    beginInsertRows({}, first, first + static_cast<int>(files.size()) - 1);
    files_.append(files);
    for (const ListedFile& f : files)
        sizeTexts_ << sizeText(f.size);
    endInsertRows();
}

void FolderListingModel::clear() {
    beginResetModel();
    files_.clear();
    sizeTexts_.clear();
    endResetModel();
}

} // namespace kestro::compose
