#include "client/ui/frmstammdat.h"

#include "client/jobdb/address.h"
#include "client/ui/windowplacement.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {
using M = jobdb::MasterData;
} // namespace

FrmStammdat::FrmStammdat(Context context, QWidget* parent)
    : QDialog(parent), ctx_(std::move(context)), databaseInUse_(ctx_.databasePath) {
    setObjectName(QStringLiteral("frmStammdat"));
    setWindowTitle(QStringLiteral("Stammdaten"));
    setModal(true);
    choice_ = std::make_unique<jobdb::DatabaseFileChoice>(ctx_.databasePath, ctx_.prompter,
                                                          ctx_.settings);

    auto* layout = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    auto* left = new QFormLayout;
    companyBox_ = addTextRow(left, QStringLiteral("Text1"), QStringLiteral("Firmenname:"));
    streetBox_ = addTextRow(left, QStringLiteral("Text2"), QStringLiteral("Straße:"));
    postcodeTownBox_ = addTextRow(left, QStringLiteral("Text3"), QStringLiteral("PLZ + Ort:"));
    contactBox_ = addTextRow(left, QStringLiteral("Text18"), QStringLiteral("Ansprechpartner:"));
    taxNumberBox_ = addTextRow(left, QStringLiteral("Text5"), QStringLiteral("Steuernummer:"));
    vatIdBox_ = addTextRow(left, QStringLiteral("Text6"), QStringLiteral("UsSt-Ident-Nr:"));
    costCentreBox_ = addTextRow(left, QStringLiteral("Text16"), QStringLiteral("Kostenstelle:"));
    projectBox_ = addTextRow(left, QStringLiteral("Text17"), QStringLiteral("Projekt:"));
    auto* right = new QFormLayout;
    phoneBox_ = addTextRow(right, QStringLiteral("Text9"), QStringLiteral("Telefon:"));
    faxBox_ = addTextRow(right, QStringLiteral("Text8"), QStringLiteral("Fax:"));
    mobileBox_ = addTextRow(right, QStringLiteral("Text7"), QStringLiteral("Funk:"));
    emailBox_ = addTextRow(right, QStringLiteral("Text11"), QStringLiteral("E-Mail:"));
    webBox_ = addTextRow(right, QStringLiteral("Text12"), QStringLiteral("www:"));
    bankNameBox_ = addTextRow(right, QStringLiteral("Text10"), QStringLiteral("Bankname:"));
    bankCodeBox_ = addTextRow(right, QStringLiteral("Text13"), QStringLiteral("BLZ:"));
    accountNumberBox_ = addTextRow(right, QStringLiteral("Text14"), QStringLiteral("Kto Nr.:"));
    // The VAT rate: a number with a decimal comma, so it always converts.
    vatRateBox_ = new QLineEdit(this);
    vatRateBox_->setObjectName(QStringLiteral("Text4"));
    vatRateBox_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^\\d{0,2}([,.]\\d{0,2})?$")), vatRateBox_));
    vatRateBox_->setMaximumWidth(60);
    left->addRow(new QLabel(QStringLiteral("MwSt:"), this), vatRateBox_);
    columns->addLayout(left, 1);
    columns->addSpacing(16);
    columns->addLayout(right, 1);
    layout->addLayout(columns);

    auto addCheck = [&](const QString& name, const QString& caption) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(name);
        box->setTristate(false);
        layout->addWidget(box);
        return box;
    };
    cashPayerNetAsGrossCheck_ =
        addCheck(QStringLiteral("Check1"), QStringLiteral("Barzahler erhalten Netto als Brutto:"));
    grossPricesCheck_ = addCheck(QStringLiteral("Check2"),
                                 QStringLiteral("ArtikelStammdaten beinhalten die Bruttopreise"));
    sortProjectsByName1Check_ =
        addCheck(QStringLiteral("Check3"),
                 QStringLiteral("in der Listenansicht Projekte nach Name1 sortieren"));

    auto* dbRow = new QHBoxLayout;
    auto* dbLabel = new QLabel(QStringLiteral("Datenbank:"), this);
    databasePathBox_ = new QLineEdit(this);
    databasePathBox_->setObjectName(QStringLiteral("Text15"));
    // The path changes only through the file dialog, which also tells the user that the
    // program restarts with the new file.
    databasePathBox_->setReadOnly(true);
    auto* chooseButton = new QPushButton(QStringLiteral("&auswählen"), this);
    chooseButton->setObjectName(QStringLiteral("cmdDatabank"));
    connect(chooseButton, &QPushButton::clicked, this, &FrmStammdat::chooseDatabase);
    dbRow->addWidget(dbLabel);
    dbRow->addWidget(databasePathBox_, 1);
    dbRow->addWidget(chooseButton);
    layout->addLayout(dbRow);

    auto* buttons = new QDialogButtonBox(this);
    auto* okButton = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    okButton->setObjectName(QStringLiteral("cmdOK"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &FrmStammdat::save);
    layout->addWidget(buttons);

    resize(760, sizeHint().height());
    fillWindow();
    centerOnScreen(this);
}

FrmStammdat::~FrmStammdat() = default;

QLineEdit* FrmStammdat::addTextRow(QFormLayout* form, const QString& name, const QString& caption) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    auto* label = new QLabel(caption, this);
    label->setBuddy(box);
    form->addRow(label, box);
    return box;
}

std::array<FrmStammdat::TextBinding, 16> FrmStammdat::textBindings() const {
    return {{
        {companyBox_, &M::name},
        {streetBox_, &M::street},
        {postcodeTownBox_, &M::plz},
        {contactBox_, &M::contact},
        {taxNumberBox_, &M::taxNumber},
        {vatIdBox_, &M::vatId},
        {costCentreBox_, &M::costCentre},
        {projectBox_, &M::project},
        {phoneBox_, &M::phone},
        {faxBox_, &M::fax},
        {mobileBox_, &M::mobile},
        {emailBox_, &M::email},
        {webBox_, &M::web},
        {bankNameBox_, &M::bankName},
        {bankCodeBox_, &M::bankCode},
        {accountNumberBox_, &M::accountNumber},
    }};
}

std::array<FrmStammdat::FlagBinding, 3> FrmStammdat::flagBindings() const {
    return {{
        {cashPayerNetAsGrossCheck_, &M::cashPayerNetAsGross},
        {grossPricesCheck_, &M::grossPrices},
        {sortProjectsByName1Check_, &M::sortProjectsByName1},
    }};
}

void FrmStammdat::fillWindow() {
    for (const auto& [box, value] : textBindings())
        box->setText(ctx_.master.*value);
    vatRateBox_->setText(jobdb::vatRateText(ctx_.master.vatRate));
    for (const auto& [box, flag] : flagBindings()) {
        // Stored digits: 0 unchecked, 1 checked, 2 greyed.
        const int state = jobdb::flagState(ctx_.master.*flag);
        box->setTristate(state == 2);
        box->setCheckState(state == 1   ? Qt::Checked
                           : state == 2 ? Qt::PartiallyChecked
                                        : Qt::Unchecked);
    }
    // A server address keeps its password out of sight; the window keeps the full text.
    databasePathBox_->setText(jobdb::shownDatabank(ctx_.databasePath));
}

void FrmStammdat::collect() {
    for (const auto& [box, value] : textBindings())
        ctx_.master.*value = box->text();
    ctx_.master.vatRate = jobdb::parseVatRate(vatRateBox_->text()).value_or(0.0f);
    // The database box is read-only and shows the address without its password; the
    // database in use is the one chosen, not the text shown.
    for (const auto& [box, flag] : flagBindings()) {
        const Qt::CheckState cs = box->checkState();
        ctx_.master.*flag = jobdb::flagDigit(cs == Qt::Checked            ? 1
                                             : cs == Qt::PartiallyChecked ? 2
                                                                          : 0);
    }
}

void FrmStammdat::chooseDatabase() {
    const QString path = choice_->choose(ctx_.databasePath);
    ctx_.databasePath = path;
    databasePathBox_->setText(jobdb::shownDatabank(path));
    const jobdb::MasterDataStore store(path);
    if (!store.load(ctx_.master))
        ctx_.prompter.message(QStringLiteral("Die Stammdaten konnten nicht gelesen werden:\r") +
                                  store.errorText(),
                              Prompter::Icon::Critical, windowTitle());
    fillWindow();
}

void FrmStammdat::save() {
    collect();
    QString error;
    if (!jobdb::saveMasterData(ctx_.databasePath, ctx_.master, ctx_.settings, &error)) {
        // The worker must not believe the data stored: the window stays open with what
        // was typed, so that it can be saved again once the database can be written.
        ctx_.prompter.message(QStringLiteral("Die Stammdaten konnten nicht gespeichert "
                                             "werden:\r") +
                                  error,
                              Prompter::Icon::Critical, windowTitle());
        // Choosing the file already named it for the next start; a file that cannot take
        // the data is not switched to.
        if (choice_->otherFileChosen())
            ctx_.settings.writeSetting(QStringLiteral("Databank"), databaseInUse_);
        return;
    }
    if (!choice_->otherFileChosen()) {
        if (ctx_.reloadProjects)
            ctx_.reloadProjects();
        accept();
        return;
    }
    accept();
    ctx_.prompter.message(jobdb::restartMessage(), Prompter::Icon::Exclamation);
    if (ctx_.endProgram)
        ctx_.endProgram();
}

} // namespace kestro::ui
