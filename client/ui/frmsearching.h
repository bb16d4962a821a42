#pragma once

#include "client/history/searchhitmodel.h"
#include "client/history/searchrunner.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace kestro::ui {

// "suchen...": finds sent jobs by a piece of text. Typing five characters or more searches
// at every keystroke, Enter and the search button search at any length. The search runs
// off the window's thread (history::SearchRunner); a newer keystroke drops the older
// search. Choosing a hit (double click, or Enter in the list) shows that job in the browser.
class FrmSearching : public QDialog {
    Q_OBJECT
public:
    // `showJob` is the browser's "show this job"; the window opens to the right of `browser`.
    FrmSearching(const QString& databasePath, std::function<void(qint32)> showJob,
                 QWidget* browser);

    const history::SearchHitModel& hits() const { return hits_; }
    bool isSearching() const { return runner_.isBusy(); }

Q_SIGNALS:
    // A search has ended and its hits are in the list.
    void searchFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startSearch();
    void onFinished(const history::SearchOutcome& outcome);
    void chooseHit(const QModelIndex& index);
    void growForHits();
    void fitColumns();

    std::function<void(qint32)> showJob_;
    history::SearchHitModel hits_;
    history::SearchRunner runner_;
    QLineEdit* textBox_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QTreeView* hitList_ = nullptr;
    QLabel* status_ = nullptr;
    bool placed_ = false;
};

} // namespace kestro::ui
