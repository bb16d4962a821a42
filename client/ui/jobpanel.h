#pragma once

#include "client/compose/filelistmodel.h"
#include "client/compose/jobsnapshot.h"
#include "common/prompter.h"

#include <QWidget>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeView;

namespace kestro::ui {
class FileListColumnFitter;
}

namespace kestro::ui {

// The job area of the main window: the job's header fields, the per-file settings, and
// the file list with its buttons. The rows live in a compose::FileListModel; this widget
// only shows them and turns the worker's clicks into model operations.
class JobPanel : public QWidget {
    Q_OBJECT
public:
    JobPanel(Prompter& prompter, QWidget* parent = nullptr);

    // Replaces the project / delivery-address choices; an empty list leaves them as they
    // were, as the list loaders do when the table has no rows. The chosen entry stays
    // chosen when the new list still holds it.
    void setProjects(const QStringList& labels);
    void setDeliveries(const QStringList& labels);
    // The catalogue's colour and processing menus; a choice the new menus still offer
    // stays chosen.
    void setCatalogueLists(const QStringList& colors, const QStringList& work1,
                           const QStringList& work2, const QStringList& work3);
    void clearCatalogueLists();
    void setDeadlineDate(const QDate& date);
    // The copies 1..100 and the 97 deadline times.
    void fillFixedLists();

    compose::JobSnapshot snapshot() const;
    void clearFiles();
    // A delivered job leaves the window: its files and its remarks go.
    void clearJob();
    // Puts a stored job back into the fields and the list. An empty project, delivery
    // address or deadline time and an invalid date leave what the window shows.
    void loadJob(const compose::JobSnapshot& job);

    // Opens the file window modally and appends the files chosen there. `startFolder` is
    // where the window opens; after "OK" it holds the folder the worker was in.
    void openAddFiles(QString& startFolder);

    compose::FileListModel& model() { return model_; }
    const compose::FileListModel& model() const { return model_; }
    // The rows selected in the file list, top to bottom.
    QList<int> selectedRows() const;

    // The actions behind the buttons, callable from menus and tests alike.
    void applyToSelectedRows();
    void deleteFirstSelectedRow();

Q_SIGNALS:
    // "Dateien hinzufügen" was pressed; the main window answers with openAddFiles().
    void addFilesRequested();

private:
    void buildHeaderFields();
    void buildFileSettings();
    void buildFileList();

    Prompter& prompter_;
    compose::FileListModel model_;
    QComboBox* projectBox_ = nullptr;
    QComboBox* deliveryAddressBox_ = nullptr;
    QDateEdit* deadlineDate_ = nullptr;
    QComboBox* deadlineTimeBox_ = nullptr;
    QLineEdit* remarksBox_ = nullptr;
    QComboBox* copiesBox_ = nullptr;
    QComboBox* colourBox_ = nullptr;
    QComboBox* stepBoxes_[3] = {};
    QTreeView* fileList_ = nullptr;
    QPushButton* addFileButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QToolButton* deleteButton_ = nullptr;
    FileListColumnFitter* columns_ = nullptr;
};

} // namespace kestro::ui
