#include "client/ui/frmstammdat.h"

#include "client/jobdb/address.h"
#include "client/ui/windowplacement.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {

// The text boxes: control number, caption, member of the record.
struct TextField {
    int control;
    const char* caption;
    QString jobdb::MasterData::*member;
};

using M = jobdb::MasterData;
const TextField kLeftColumn[] = {
    {1, "Firmenname:", &M::name},
    {2, "Straße:", &M::street},
    {3, "PLZ + Ort:", &M::plz},
    {18, "Ansprechpartner:", &M::contact},
    {5, "Steuernummer:", &M::taxNumber},
    {6, "UsSt-Ident-Nr:", &M::vatId},
    {16, "Kostenstelle:", &M::costCentre},
    {17, "Projekt:", &M::project},
};
const TextField kRightColumn[] = {
    {9, "Telefon:", &M::phone}, {8, "Fax:", &M::fax},
    {7, "Funk:", &M::mobile},   {11, "E-Mail:", &M::email},
    {12, "www:", &M::web},      {10, "Bankname:", &M::bankName},
    {13, "BLZ:", &M::bankCode}, {14, "Kto Nr.:", &M::accountNumber},
};

struct FlagField {
    int control;
    const char* caption;
    QString jobdb::MasterData::*member;
};
const FlagField kFlags[] = {
    {1, "Barzahler erhalten Netto als Brutto:", &M::cashPayerNetAsGross},
    {2, "ArtikelStammdaten beinhalten die Bruttopreise", &M::grossPrices},
    {3, "in der Listenansicht Projekte nach Name1 sortieren", &M::sortProjectsByName1},
};

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
    auto makeForm = [&](const auto& fields) {
        auto* form = new QFormLayout;
        for (const TextField& f : fields) {
            auto* edit = new QLineEdit(this);
            edit->setObjectName(QStringLiteral("Text%1").arg(f.control));
            text_[f.control] = edit;
            auto* label = new QLabel(QString::fromUtf8(f.caption), this);
            label->setBuddy(edit);
            form->addRow(label, edit);
        }
        return form;
    };
    auto* left = makeForm(kLeftColumn);
    auto* right = makeForm(kRightColumn);
    // The VAT rate: a number with a decimal comma, so it always converts.
    auto* vat = new QLineEdit(this);
    vat->setObjectName(QStringLiteral("Text4"));
    vat->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^\\d{0,2}([,.]\\d{0,2})?$")), vat));
    vat->setMaximumWidth(60);
    text_[4] = vat;
    left->addRow(new QLabel(QStringLiteral("MwSt:"), this), vat);
    columns->addLayout(left, 1);
    columns->addSpacing(16);
    columns->addLayout(right, 1);
    layout->addLayout(columns);

    for (const FlagField& f : kFlags) {
        auto* box = new QCheckBox(QString::fromUtf8(f.caption), this);
        box->setObjectName(QStringLiteral("Check%1").arg(f.control));
        box->setTristate(false);
        check_[f.control] = box;
        layout->addWidget(box);
    }

    auto* dbRow = new QHBoxLayout;
    auto* dbLabel = new QLabel(QStringLiteral("Datenbank:"), this);
    text15_ = new QLineEdit(this);
    text15_->setObjectName(QStringLiteral("Text15"));
    // The path changes only through the file dialog, which also tells the user that the
    // program restarts with the new file.
    text15_->setReadOnly(true);
    auto* databank = new QPushButton(QStringLiteral("&auswählen"), this);
    databank->setObjectName(QStringLiteral("cmdDatabank"));
    connect(databank, &QPushButton::clicked, this, &FrmStammdat::onDatabank);
    dbRow->addWidget(dbLabel);
    dbRow->addWidget(text15_, 1);
    dbRow->addWidget(databank);
    layout->addLayout(dbRow);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &FrmStammdat::onOk);
    layout->addWidget(buttons);

    resize(760, sizeHint().height());
    fillWindow();
    centerOnScreen(this);
}

FrmStammdat::~FrmStammdat() = default;

void FrmStammdat::fillWindow() {
    for (const auto* fields : {std::begin(kLeftColumn), std::begin(kRightColumn)}) {
        for (const TextField* f = fields; f != fields + 8; ++f)
            text_[f->control]->setText(ctx_.master.*(f->member));
    }
    text_[4]->setText(jobdb::vatRateText(ctx_.master.vatRate));
    for (const FlagField& f : kFlags) {
        // Stored digits: 0 unchecked, 1 checked, 2 greyed.
        const int state = jobdb::flagState(ctx_.master.*(f.member));
        check_[f.control]->setTristate(state == 2);
        check_[f.control]->setCheckState(state == 1   ? Qt::Checked
                                         : state == 2 ? Qt::PartiallyChecked
                                                      : Qt::Unchecked);
    }
    // A server address keeps its password out of sight; the window keeps the full text.
    text15_->setText(jobdb::shownDatabank(ctx_.databasePath));
}

void FrmStammdat::collect() {
    for (const auto* fields : {std::begin(kLeftColumn), std::begin(kRightColumn)}) {
        for (const TextField* f = fields; f != fields + 8; ++f)
            ctx_.master.*(f->member) = text_[f->control]->text();
    }
    ctx_.master.vatRate = jobdb::parseVatRate(text_[4]->text()).value_or(0.0f);
    // The database box is read-only and shows the address without its password; the
    // database in use is the one chosen, not the text shown.
    for (const FlagField& f : kFlags) {
        const Qt::CheckState cs = check_[f.control]->checkState();
        ctx_.master.*(f.member) = jobdb::flagDigit(cs == Qt::Checked            ? 1
                                                   : cs == Qt::PartiallyChecked ? 2
                                                                                : 0);
    }
}

void FrmStammdat::onDatabank() {
    const QString path = choice_->choose(ctx_.databasePath);
    ctx_.databasePath = path;
    text15_->setText(jobdb::shownDatabank(path));
    const jobdb::MasterDataStore store(path);
    if (!store.load(ctx_.master))
        ctx_.prompter.message(QStringLiteral("Die Stammdaten konnten nicht gelesen werden:\r") +
                                  store.errorText(),
                              Prompter::Icon::Critical, windowTitle());
    fillWindow();
}

void FrmStammdat::onOk() {
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
