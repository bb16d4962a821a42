#pragma once

#include "client/compose/filelistmodel.h"
#include "client/history/historybrowser.h"
#include "client/history/historystore.h"
#include "common/prompter.h"

#include <QDialog>
#include <functional>

class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QTreeView;

namespace kestro::jobdb {
class Database;
}

namespace kestro::ui {

// What the history browser needs: the program-wide connection, the message boxes, and
// where "Laden" puts a job (the main window's job area).
struct OldJobsContext {
    const jobdb::Database& db;
    Prompter& prompter;
    std::function<void(const compose::JobSnapshot&)> loadIntoMainWindow;
};

// "gesendete Aufträge": one sent job at a time by number, with its files; step back and
// forward, load the job back into the main window, delete it, or search. Every database
// step goes through history::HistoryBrowser; this window only shows what it answers.
class FrmOldJobs : public QDialog {
    Q_OBJECT
public:
    explicit FrmOldJobs(OldJobsContext context, QWidget* parent = nullptr);

    // Shows that job (or walks on from it over a gap), as a hit chosen in the search does.
    void showJob(qint32 number);

    const history::HistoryBrowser& browser() const { return browser_; }
    const compose::FileListModel& files() const { return files_; }

private:
    void buildBoxes(QGridLayout* grid);
    void buildFileList();
    void buildButtons(QHBoxLayout* row);
    void apply(const history::BrowserView& view);
    void showError(const QString& error);
    void loadIntoMainWindow();
    void deleteShownJob();
    void openSearch();

    OldJobsContext ctx_;
    history::HistoryStore store_;
    history::HistoryBrowser browser_;
    compose::FileListModel files_;
    QList<std::pair<QLineEdit*, QString history::StoredJob::*>> boxes_;
    QLineEdit* jobNumberBox_ = nullptr;
    QPlainTextEdit* remarksBox_ = nullptr;
    QTreeView* fileList_ = nullptr;
    QToolButton* backButton_ = nullptr;
    QToolButton* forwardButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    history::StoredJob shown_;
};

// Opens the history browser modally over the main window; without a database it tells
// the worker so.
void openJobHistory(QWidget* parent, const jobdb::Database* db, const QString& databasePath,
                    Prompter& prompter,
                    std::function<void(const compose::JobSnapshot&)> loadIntoMainWindow);

} // namespace kestro::ui
