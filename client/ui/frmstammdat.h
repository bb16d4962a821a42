#pragma once

#include "client/jobdb/masterdata.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <QDialog>
#include <functional>
#include <memory>

class QCheckBox;
class QLineEdit;

namespace kestro::ui {

// "Stammdaten": the company's master data, and the choice of another database file
// (taken into use after a restart). The window only shows and collects; loading, saving
// and the file choice are the job database's.
class FrmStammdat : public QDialog {
    Q_OBJECT
public:
    struct Context {
        QString& databasePath;     // the program-wide database path
        jobdb::MasterData& master; // the program-wide master-data record
        Prompter& prompter;
        SettingWriter& settings;
        std::function<void()> reloadProjects; // after a normal OK
        std::function<void()> endProgram;     // after another file was chosen
    };

    explicit FrmStammdat(Context context, QWidget* parent = nullptr);
    ~FrmStammdat() override;

    // Copies the record into the controls.
    void fillWindow();

private:
    void onDatabank();
    void onOk();
    void collect();

    Context ctx_;
    std::unique_ptr<jobdb::DatabaseFileChoice> choice_;
    const QString databaseInUse_; // the file the program runs with
    QLineEdit* text_[19] = {};
    QCheckBox* check_[4] = {};
    QLineEdit* text15_ = nullptr;
};

} // namespace kestro::ui
