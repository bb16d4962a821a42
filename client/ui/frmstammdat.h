#pragma once

#include "client/jobdb/masterdata.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <utility>

class QCheckBox;
class QFormLayout;
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
    // A text box and the value of the record it shows.
    using TextBinding = std::pair<QLineEdit*, QString jobdb::MasterData::*>;
    // A check box and the flag of the record it shows.
    using FlagBinding = std::pair<QCheckBox*, QString jobdb::MasterData::*>;

    QLineEdit* addTextRow(QFormLayout* form, const QString& name, const QString& caption);
    std::array<TextBinding, 16> textBindings() const;
    std::array<FlagBinding, 3> flagBindings() const;
    void chooseDatabase();
    void save();
    void collect();

    Context ctx_;
    std::unique_ptr<jobdb::DatabaseFileChoice> choice_;
    const QString databaseInUse_; // the file the program runs with
    // Each widget keeps its old control name (Text1, Check1, ...) as objectName.
    QLineEdit* companyBox_ = nullptr;
    QLineEdit* streetBox_ = nullptr;
    QLineEdit* postcodeTownBox_ = nullptr;
    QLineEdit* contactBox_ = nullptr;
    QLineEdit* taxNumberBox_ = nullptr;
    QLineEdit* vatIdBox_ = nullptr;
    QLineEdit* vatRateBox_ = nullptr;
    QLineEdit* costCentreBox_ = nullptr;
    QLineEdit* projectBox_ = nullptr;
    QLineEdit* phoneBox_ = nullptr;
    QLineEdit* faxBox_ = nullptr;
    QLineEdit* mobileBox_ = nullptr;
    QLineEdit* emailBox_ = nullptr;
    QLineEdit* webBox_ = nullptr;
    QLineEdit* bankNameBox_ = nullptr;
    QLineEdit* bankCodeBox_ = nullptr;
    QLineEdit* accountNumberBox_ = nullptr;
    QCheckBox* cashPayerNetAsGrossCheck_ = nullptr;
    QCheckBox* grossPricesCheck_ = nullptr;
    QCheckBox* sortProjectsByName1Check_ = nullptr;
    QLineEdit* databasePathBox_ = nullptr;
};

} // namespace kestro::ui
