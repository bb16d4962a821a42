#pragma once

#include "client/history/jobsearch.h"

#include <QAbstractTableModel>

namespace kestro::history {

// The hit list of the search window: "Nr.", "Projekt o. Dateiname", "Datum", "Kostenst.".
// A model rather than list items, because an empty search text lists every job and file.
class SearchHitModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, ProjectOrFile, Date, CostCentre, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setHits(const QList<SearchHit>& hits);
    void clear() { setHits({}); }
    const QList<SearchHit>& hits() const { return hits_; }

private:
    QList<SearchHit> hits_;
};

} // namespace kestro::history
