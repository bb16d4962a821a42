#include "client/ui/frmoldjobs.h"

#include "client/jobdb/database.h"
#include "client/ui/filelistcolumns.h"
#include "client/ui/frmsearching.h"
#include "client/ui/reportlist.h"
#include "client/ui/windowplacement.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {

using history::StoredJob;

struct BoxSpec {
    const char* name;
    const char* label; // empty: the box sits beside the next one
    QString StoredJob::*field;
    int column; // 0 left half, 1 right half
};

// The seventeen boxes but the remarks, with their labels, in the order they are laid out.
const BoxSpec kBoxes[] = {
    {"txtJobNumber", "Jobnummer :", &StoredJob::jobNumber, 0},
    {"txtKostenstelle", "Kostenstelle :", &StoredJob::costCentre, 0},
    {"txtProjekt", "Projekt :", &StoredJob::project, 0},
    {"txtTermin", "Termin :", &StoredJob::deadline, 0},
    {"txtName", "Name :", &StoredJob::name, 0},
    {"txtSteet", "Straße :", &StoredJob::street, 0},
    {"txtPLZO", "PLZ + Ort :", &StoredJob::plzTown, 0},
    {"txtDate", "ges. Date :", &StoredJob::date, 0},
    {"txtTime", "ges. Time :", &StoredJob::time, 0},
    {"txtLiefNr", "", &StoredJob::deliveryNumber, 1},
    {"txtLiefNam1", "LieferName 1 :", &StoredJob::deliveryName1, 1},
    {"txtLiefNam2", "LieferName 2 :", &StoredJob::deliveryName2, 1},
    {"txtLiefNam3", "LieferName 3 :", &StoredJob::deliveryName3, 1},
    {"txtLiefStreet", "Lieferstraße :", &StoredJob::deliveryStreet, 1},
    {"txtLiefPLZO", "Lieferort + Plz :", &StoredJob::deliveryTown, 1},
    {"txtLiefAnspr", "Liefer Anspr. :", &StoredJob::deliveryContact, 1},
};

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

FrmOldJobs::FrmOldJobs(OldJobsContext context, QWidget* parent)
    : QDialog(parent), ctx_(std::move(context)), store_(ctx_.db), browser_(store_), files_(this) {
    setObjectName(QStringLiteral("frmOldJobs"));
    setWindowTitle(QStringLiteral("gesendete Aufträge"));

    auto* grid = new QGridLayout;
    buildBoxes(grid);
    buildFileList();
    auto* buttons = new QHBoxLayout;
    buildButtons(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(fileList_, 1);
    layout->addLayout(buttons);
    resize(900, 640);
    centerOnScreen(this);

    // The newest job first.
    apply(browser_.open());
}

void FrmOldJobs::buildBoxes(QGridLayout* grid) {
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setColumnMinimumWidth(2, 16);
    int row[2] = {0, 0};
    QLineEdit* deliveryNumber = nullptr;
    for (const BoxSpec& spec : kBoxes) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QString::fromLatin1(spec.name));
        box->setReadOnly(true);
        boxes_.append({box, spec.field});
        if (spec.field == &StoredJob::jobNumber)
            jobNumberBox_ = box;
        const int labelColumn = spec.column == 0 ? 0 : 3;
        if (!*spec.label) {
            // The delivery number has no label of its own: it stands in front of name 1.
            deliveryNumber = box;
            box->setToolTip(QStringLiteral("Liefernummer"));
            box->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
            continue;
        }
        auto* label = new QLabel(QString::fromUtf8(spec.label), this);
        label->setBuddy(box);
        grid->addWidget(label, row[spec.column], labelColumn);
        if (deliveryNumber) {
            auto* pair = new QHBoxLayout;
            pair->addWidget(deliveryNumber);
            pair->addWidget(box, 1);
            grid->addLayout(pair, row[spec.column], labelColumn + 1);
            deliveryNumber = nullptr;
        } else {
            grid->addWidget(box, row[spec.column], labelColumn + 1);
        }
        ++row[spec.column];
    }
    remarksBox_ = new QPlainTextEdit(this);
    remarksBox_->setObjectName(QStringLiteral("txtBemerk"));
    remarksBox_->setReadOnly(true);
    remarksBox_->setFixedHeight(fontMetrics().lineSpacing() * 3 + 12);
    auto* remarksLabel = new QLabel(QStringLiteral("Bemerkungen:"), this);
    remarksLabel->setBuddy(remarksBox_);
    const int remarksRow = qMax(row[0], row[1]);
    grid->addWidget(remarksLabel, remarksRow, 0, Qt::AlignTop);
    grid->addWidget(remarksBox_, remarksRow, 1, 1, 4);
}

void FrmOldJobs::buildFileList() {
    fileList_ = makeReportList(this, QStringLiteral("ListView1"), &files_);
    fileList_->setMinimumHeight(140);
    // The value columns show their cells whole; the file name takes the rest of the width.
    new FileListColumnFitter(fileList_);
}

void FrmOldJobs::buildButtons(QHBoxLayout* row) {
    auto stepButton = [this](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setAutoRepeat(true);
        return b;
    };
    backButton_ =
        stepButton("cmdHScroll1M", QStyle::SP_ArrowBack, QStringLiteral("einen Auftrag zurück"));
    forwardButton_ =
        stepButton("cmdHScroll1P", QStyle::SP_ArrowForward, QStringLiteral("einen Auftrag vor"));
    loadButton_ = button(this, "cmdLoad", QStringLiteral("&Laden"));
    deleteButton_ = button(this, "cmdDel", QStringLiteral("Datensatz löschen"));
    searchButton_ = button(this, "cmdSearching", QStringLiteral("Suchen"));
    closeButton_ = button(this, "cmdOK", QStringLiteral("OK"));
    closeButton_->setDefault(true);

    connect(backButton_, &QToolButton::clicked, this, [this] { apply(browser_.stepBack()); });
    connect(forwardButton_, &QToolButton::clicked, this, [this] { apply(browser_.stepForward()); });
    connect(loadButton_, &QPushButton::clicked, this, &FrmOldJobs::loadIntoMainWindow);
    connect(deleteButton_, &QPushButton::clicked, this, &FrmOldJobs::deleteShownJob);
    connect(searchButton_, &QPushButton::clicked, this, &FrmOldJobs::openSearch);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);

    row->addWidget(backButton_);
    row->addWidget(forwardButton_);
    row->addSpacing(16);
    row->addWidget(loadButton_);
    row->addWidget(deleteButton_);
    row->addWidget(searchButton_);
    row->addStretch(1);
    row->addWidget(closeButton_);
}

void FrmOldJobs::showJob(qint32 number) {
    apply(browser_.show(number));
}

void FrmOldJobs::apply(const history::BrowserView& view) {
    if (view.job) {
        shown_ = *view.job;
        for (const auto& [box, field] : boxes_)
            box->setText(shown_.*field);
        remarksBox_->setPlainText(shown_.remarks);
    }
    if (view.files)
        files_.setRows(*view.files);
    if (!view.error.isEmpty())
        showError(view.error);
}

void FrmOldJobs::showError(const QString& error) {
    ctx_.prompter.message(QStringLiteral("Die Datenbank meldet einen Fehler:\r") + error,
                          Prompter::Icon::Critical);
}

void FrmOldJobs::loadIntoMainWindow() {
    // Where no job is shown, loading would only empty the job the worker is composing.
    if (ctx_.loadIntoMainWindow && browser_.showsJob())
        ctx_.loadIntoMainWindow(history::reloadedJob(shown_, files_.rows()));
    accept();
}

void FrmOldJobs::deleteShownJob() {
    if (!ctx_.prompter.askYesNo(QStringLiteral("Soll der Datensatz wirklich gelöscht werden ? !"),
                                Prompter::Icon::Question))
        return;
    const auto result = browser_.deleteShown(jobNumberBox_->text());
    switch (result.step) {
    case history::HistoryBrowser::DeleteStep::Failed:
        showError(result.error);
        break;
    case history::HistoryBrowser::DeleteStep::CloseWindow:
        accept();
        break;
    case history::HistoryBrowser::DeleteStep::ShowNext:
        apply(result.view);
        break;
    }
}

void FrmOldJobs::openSearch() {
    FrmSearching search(
        ctx_.db.path(), [this](qint32 number) { showJob(number); }, this);
    search.exec();
}

void openJobHistory(QWidget* parent, const jobdb::Database* db, const QString& databasePath,
                    Prompter& prompter,
                    std::function<void(const compose::JobSnapshot&)> loadIntoMainWindow) {
    if (!db) {
        prompter.message(QStringLiteral("Die Datenbank ist nicht geöffnet:\r") + databasePath,
                         Prompter::Icon::Critical);
        return;
    }
    FrmOldJobs window({*db, prompter, std::move(loadIntoMainWindow)}, parent);
    window.exec();
}

} // namespace kestro::ui
