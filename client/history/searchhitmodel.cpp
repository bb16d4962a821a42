#include "client/history/searchhitmodel.h"

namespace kestro::history {

int SearchHitModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(hits_.size());
}

int SearchHitModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SearchHitModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= hits_.size() || role != Qt::DisplayRole)
        return {};
    const SearchHit& hit = hits_.at(index.row());
    switch (index.column()) {
    case Number:
        return hit.jobNumber;
    case ProjectOrFile:
        return hit.text;
    case Date:
        return hit.date;
    case CostCentre:
        return hit.costCentre;
    default:
        return {};
    }
}

QVariant SearchHitModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList captions{QStringLiteral("Nr."), QStringLiteral("Projekt o. Dateiname"),
                                      QStringLiteral("Datum"), QStringLiteral("Kostenst.")};
    return section >= 0 && section < captions.size() ? QVariant(captions.at(section)) : QVariant();
}

void SearchHitModel::setHits(const QList<SearchHit>& hits) {
    beginResetModel();
    hits_ = hits;
    endResetModel();
}

} // namespace kestro::history
