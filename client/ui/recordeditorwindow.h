#pragma once

#include "client/jobdb/recordeditor.h"
#include "common/prompter.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QScrollBar;

namespace kestro::ui {

// The project editor "Projekte" and the delivery-address editor "Lieferadressen": one
// window, configured by jobdb::EditorConfig. It shows one record at a time, chosen by
// number with the scroll bar; every database step goes through jobdb::RecordEditor.
class RecordEditorWindow : public QDialog {
    Q_OBJECT
public:
    RecordEditorWindow(const jobdb::Database& db, jobdb::EditorConfig config, Prompter& prompter,
                       QWidget* parent = nullptr);

    // Shows the record with that number; a number without a record leaves the boxes as
    // they are.
    void seekX(qint32 number);

    // What the boxes show now, as a record.
    jobdb::EditorRecord shownRecord() const;

Q_SIGNALS:
    // The window was closed: the main window reloads this list so that new and changed
    // records show up there.
    void listReloadRequested(kestro::jobdb::EditorConfig::List list);

private:
    void showRecord(const jobdb::EditorRecord& record);
    void newRecord();
    void save();
    void markDeleted();

    jobdb::RecordEditor editor_;
    Prompter& prompter_;
    QLineEdit* numberBox_ = nullptr;
    QLineEdit* nameBoxes_[3] = {};
    QLineEdit* streetBox_ = nullptr;
    QLineEdit* postcodeCityBox_ = nullptr;
    QLineEdit* contactBox_ = nullptr;
    QScrollBar* recordScroller_ = nullptr;
};

} // namespace kestro::ui
