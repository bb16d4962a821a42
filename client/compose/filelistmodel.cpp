#include "client/compose/filelistmodel.h"

#include <algorithm>

namespace kestro::compose {
namespace {

const QString& cell(const FileRow& row, int column) {
    switch (column) {
    case FileListModel::Number:
        return row.number;
    case FileListModel::FileName:
        return row.fileName;
    case FileListModel::Copies:
        return row.copies;
    case FileListModel::Color:
        return row.color;
    case FileListModel::Step1:
        return row.step1;
    case FileListModel::Step2:
        return row.step2;
    default:
        return row.step3;
    }
}

} // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= ColumnCount)
        return {};
    const FileRow& row = rows_.at(index.row());
    if (role == Qt::DisplayRole)
        return cell(row, index.column());
    if (role == Qt::ToolTipRole)
        // A value too long for its column is shown cut; its tool tip holds it whole.
        return index.column() == FileName ? row.fullPath : cell(row, index.column());
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList captions{QStringLiteral("Nr."),
                                      QStringLiteral("Datei"),
                                      QStringLiteral("Anzahl"),
                                      QStringLiteral("Color"),
                                      QStringLiteral("Verarbeitung 1"),
                                      QStringLiteral("Verarbeitung 2"),
                                      QStringLiteral("Verarbeitung 3")};
    return section >= 0 && section < captions.size() ? QVariant(captions.at(section)) : QVariant();
}

void FileListModel::appendFiles(const QList<NewFile>& files) {
    if (files.isEmpty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(files.size()) - 1);
    rows_.reserve(rows_.size() + files.size());
    int number = first;
    for (const NewFile& file : files) {
        FileRow row;
        row.number = QString::number(++number);
        row.fileName = file.fileName;
        row.fullPath = file.fullPath;
        rows_.append(std::move(row));
    }
    endInsertRows();
}

void FileListModel::apply(const QList<int>& rows, const FileSettings& settings) {
    for (int r : rows) {
        if (r < 0 || r >= rows_.size())
            continue;
        FileRow& row = rows_[r];
        row.copies = settings.copies;
        row.color = settings.color;
        row.step1 = settings.step1;
        row.step2 = settings.step2;
        row.step3 = settings.step3;
        Q_EMIT dataChanged(index(r, Copies), index(r, Step3));
    }
}

bool FileListModel::removeFirstOf(const QList<int>& rows) {
    int first = -1;
    for (int r : rows) {
        if (r >= 0 && r < rows_.size() && (first < 0 || r < first))
            first = r;
    }
    if (first < 0)
        return false;
    beginRemoveRows({}, first, first);
    rows_.removeAt(first);
    endRemoveRows();
    return true;
}

void FileListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void FileListModel::setRows(const QList<FileRow>& rows) {
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

QStringList FileListModel::fullPaths() const {
    QStringList paths;
    paths.reserve(rows_.size());
    for (const FileRow& row : rows_)
        paths << row.fullPath;
    return paths;
}

bool isComplete(const QList<FileRow>& rows) {
    if (rows.isEmpty())
        return false;
    return std::none_of(rows.begin(), rows.end(), [](const FileRow& r) {
        return r.copies.isEmpty() || r.color.isEmpty() || r.step1.isEmpty() || r.step2.isEmpty() ||
               r.step3.isEmpty();
    });
}

} // namespace kestro::compose
