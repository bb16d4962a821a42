#include "client/ui/jobpanel.h"

#include "client/compose/choicelists.h"
#include "client/jobdb/jobrecords.h"
#include "client/ui/filelistcolumns.h"
#include "client/ui/frmaddfile.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {

QComboBox* choiceBox(QWidget* parent, const QString& name, const QString& toolTip, bool editable) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setToolTip(toolTip);
    box->setEditable(editable);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumContentsLength(12);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return box;
}

QLabel* caption(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, buddy->parentWidget());
    label->setBuddy(buddy);
    return label;
}

// How a reloaded list finds the entry the worker had chosen.
enum class Match {
    Text,         // the same text (catalogue entries)
    RecordNumber, // the same record number: "N | name" labels whose name may be corrected
};

// Fills a choice box afresh. What the worker had chosen stays chosen when the new list
// still holds it (a reloaded list, a refreshed catalogue); otherwise nothing is chosen.
// A text typed into an editable box is the worker's, too, and stays, also after a pick.
void replaceItems(QComboBox* box, const QStringList& items, Match match = Match::Text) {
    const QString picked =
        box->currentIndex() >= 0 ? box->itemText(box->currentIndex()) : QString();
    const QString shown = box->currentText();
    const bool typed = box->isEditable() && shown != picked;
    box->clear();
    box->addItems(items);
    qsizetype found = picked.isEmpty() ? -1 : items.indexOf(picked);
    if (found < 0 && match == Match::RecordNumber && !picked.isEmpty()) {
        const std::optional<qint32> number = jobdb::labelNumber(picked);
        for (qsizetype i = 0; number && found < 0 && i < items.size(); ++i)
            if (jobdb::labelNumber(items.at(i)) == number)
                found = i;
    }
    box->setCurrentIndex(static_cast<int>(found));
    if (typed)
        box->setEditText(shown);
    else if (box->isEditable() && found < 0)
        box->setEditText(QString());
}

// A drop-down list that opens below its box with a bounded height and scrolled to the
// current choice, instead of a list as tall as the screen laid over the box.
void boundPopup(QComboBox* box, int visibleItems) {
    box->setMaxVisibleItems(visibleItems);
    box->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
}

// The widest of the texts, as a column of the file list needs it.
QStringList itemsOf(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace

JobPanel::JobPanel(Prompter& prompter, QWidget* parent)
    : QWidget(parent), prompter_(prompter), model_(this) {
    setObjectName(QStringLiteral("JobPanel"));
    buildHeaderFields();
    buildFileSettings();
    buildFileList();

    auto* fields = new QGridLayout;
    fields->setColumnStretch(1, 3);
    fields->setColumnStretch(4, 2);
    fields->setColumnMinimumWidth(2, 24);
    fields->addWidget(caption(QStringLiteral("Projekt:"), cboProjekt_), 0, 0);
    fields->addWidget(cboProjekt_, 0, 1);
    fields->addWidget(caption(QStringLiteral("Lieferanschrift:"), cboLieferAdr_), 1, 0);
    fields->addWidget(cboLieferAdr_, 1, 1);
    auto* deadline = new QHBoxLayout;
    deadline->addWidget(dtPicker1_, 1);
    deadline->addWidget(cboTime_, 1);
    fields->addWidget(caption(QStringLiteral("Termin:"), dtPicker1_), 2, 0);
    fields->addLayout(deadline, 2, 1);
    fields->addWidget(caption(QStringLiteral("Bemerkungen:"), txtBemerk_), 3, 0);
    fields->addWidget(txtBemerk_, 3, 1, 2, 1, Qt::AlignTop);

    fields->addWidget(caption(QStringLiteral("Anzahl:"), cboAnzahl_), 0, 3);
    fields->addWidget(cboAnzahl_, 0, 4);
    fields->addWidget(caption(QStringLiteral("Color:"), cboColor_), 1, 3);
    fields->addWidget(cboColor_, 1, 4);
    for (int i = 0; i < 3; ++i) {
        fields->addWidget(caption(QStringLiteral("Verarbeitung %1:").arg(i + 1), cboArbeit_[i]),
                          2 + i, 3);
        fields->addWidget(cboArbeit_[i], 2 + i, 4);
    }
    fields->addWidget(cmdAnwenden_, 5, 4, Qt::AlignRight);

    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(cmdAddFile_);
    fileButtons->addStretch(1);
    fileButtons->addWidget(image1_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(fields);
    layout->addWidget(listView1_, 1);
    layout->addLayout(fileButtons);

    setTabOrder(cboProjekt_, cboLieferAdr_);
    setTabOrder(cboLieferAdr_, dtPicker1_);
    setTabOrder(dtPicker1_, cboTime_);
    setTabOrder(cboTime_, txtBemerk_);
    setTabOrder(txtBemerk_, cboAnzahl_);
    setTabOrder(cboAnzahl_, cboColor_);
    setTabOrder(cboColor_, cboArbeit_[0]);
    setTabOrder(cboArbeit_[0], cboArbeit_[1]);
    setTabOrder(cboArbeit_[1], cboArbeit_[2]);
    setTabOrder(cboArbeit_[2], cmdAnwenden_);
    setTabOrder(cmdAnwenden_, listView1_);
    setTabOrder(listView1_, cmdAddFile_);
    setTabOrder(cmdAddFile_, image1_);
}

void JobPanel::buildHeaderFields() {
    const QString optional = QStringLiteral("Optional");
    // Project and delivery address may also be typed, as the job store accepts a free text.
    cboProjekt_ = choiceBox(this, QStringLiteral("cboProjekt"), optional, true);
    cboLieferAdr_ = choiceBox(this, QStringLiteral("cboLieferAdr"), optional, true);
    cboProjekt_->setMinimumContentsLength(24);
    dtPicker1_ = new QDateEdit(QDate::currentDate(), this);
    dtPicker1_->setObjectName(QStringLiteral("DTPicker1"));
    dtPicker1_->setCalendarPopup(true);
    dtPicker1_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    cboTime_ = choiceBox(this, QStringLiteral("cboTime"), optional, false);
    cboTime_->setPlaceholderText(compose::noTimeChosenText());
    boundPopup(cboTime_, 16);
    txtBemerk_ = new QLineEdit(this);
    txtBemerk_->setObjectName(QStringLiteral("txtBemerk"));
}

void JobPanel::buildFileSettings() {
    const QString required = QStringLiteral("Pflichtfeld");
    cboAnzahl_ = choiceBox(this, QStringLiteral("cboAnzahl"), required, false);
    boundPopup(cboAnzahl_, 16);
    cboColor_ = choiceBox(this, QStringLiteral("cboColor"), required, false);
    for (int i = 0; i < 3; ++i)
        cboArbeit_[i] = choiceBox(this, QStringLiteral("cboArbeit%1").arg(i + 1), required, false);
    cmdAnwenden_ = new QPushButton(QStringLiteral("&Anwenden"), this);
    cmdAnwenden_->setObjectName(QStringLiteral("cmdAnwenden"));
    connect(cmdAnwenden_, &QPushButton::clicked, this, &JobPanel::applyToSelectedRows);
}

void JobPanel::buildFileList() {
    listView1_ = newFileListView(&model_, this);
    listView1_->setAlternatingRowColors(true);
    listView1_->setMinimumHeight(120);
    // The value columns are as wide as their longest possible entry (the catalogue's
    // texts, or what a row holds).
    using M = compose::FileListModel;
    columns_ = new FileListColumnFitter(listView1_, [this] {
        return std::map<int, QStringList>{{M::Color, itemsOf(cboColor_)},
                                          {M::Step1, itemsOf(cboArbeit_[0])},
                                          {M::Step2, itemsOf(cboArbeit_[1])},
                                          {M::Step3, itemsOf(cboArbeit_[2])}};
    });

    cmdAddFile_ = new QPushButton(QStringLiteral("Dateien &hinzufügen"), this);
    cmdAddFile_->setObjectName(QStringLiteral("cmdAddFile"));
    connect(cmdAddFile_, &QPushButton::clicked, this, &JobPanel::addFilesRequested);

    image1_ = new QToolButton(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setToolTip(QStringLiteral("löscht die markierte Zeile"));
    image1_->setAccessibleName(QStringLiteral("Zeile löschen"));
    image1_->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    image1_->setIconSize(QSize(24, 24));
    image1_->setAutoRaise(true);
    connect(image1_, &QToolButton::clicked, this, &JobPanel::deleteFirstSelectedRow);

    // The Delete key in the list does what the delete image does.
    auto* del = new QShortcut(QKeySequence::Delete, listView1_);
    del->setContext(Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, &JobPanel::deleteFirstSelectedRow);
}

void JobPanel::setProjects(const QStringList& labels) {
    if (!labels.isEmpty())
        replaceItems(cboProjekt_, labels, Match::RecordNumber);
}

void JobPanel::setDeliveries(const QStringList& labels) {
    if (!labels.isEmpty())
        replaceItems(cboLieferAdr_, labels, Match::RecordNumber);
}

void JobPanel::setCatalogueLists(const QStringList& colors, const QStringList& work1,
                                 const QStringList& work2, const QStringList& work3) {
    replaceItems(cboColor_, colors);
    replaceItems(cboArbeit_[0], work1);
    replaceItems(cboArbeit_[1], work2);
    replaceItems(cboArbeit_[2], work3);
    columns_->fitNow();
}

void JobPanel::clearCatalogueLists() {
    setCatalogueLists({}, {}, {}, {});
}

void JobPanel::setDeadlineDate(const QDate& date) {
    dtPicker1_->setDate(date);
}

void JobPanel::fillFixedLists() {
    replaceItems(cboAnzahl_, compose::copiesChoices());
    replaceItems(cboTime_, compose::deadlineTimes());
}

compose::JobSnapshot JobPanel::snapshot() const {
    compose::JobSnapshot job;
    job.project = cboProjekt_->currentText();
    job.delivery = cboLieferAdr_->currentText();
    job.deadlineDate = dtPicker1_->date();
    job.deadlineTime =
        cboTime_->currentIndex() < 0 ? compose::noTimeChosenText() : cboTime_->currentText();
    job.remarks = txtBemerk_->text();
    job.files = model_.rows();
    return job;
}

void JobPanel::clearFiles() {
    model_.clear();
}

void JobPanel::clearJob() {
    model_.clear();
    txtBemerk_->clear();
}

void JobPanel::loadJob(const compose::JobSnapshot& job) {
    if (!job.project.isEmpty())
        cboProjekt_->setCurrentText(job.project);
    if (!job.delivery.isEmpty())
        cboLieferAdr_->setCurrentText(job.delivery);
    if (job.deadlineDate.isValid())
        dtPicker1_->setDate(job.deadlineDate);
    if (!job.deadlineTime.isEmpty())
        cboTime_->setCurrentIndex(cboTime_->findText(job.deadlineTime));
    txtBemerk_->setText(job.remarks);
    model_.setRows(job.files);
}

void JobPanel::openAddFiles(QString& startFolder) {
    FrmAddFile window(startFolder, this);
    if (window.exec() != QDialog::Accepted)
        return;
    model_.appendFiles(window.chosenFiles());
    startFolder = window.currentFolder();
}

QList<int> JobPanel::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : listView1_->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void JobPanel::applyToSelectedRows() {
    if (model_.rowCount() == 0) {
        prompter_.message(QStringLiteral("nicht zum anwenden vorhanden !"),
                          Prompter::Icon::Exclamation);
        return;
    }
    model_.apply(selectedRows(),
                 {cboAnzahl_->currentText(), cboColor_->currentText(), cboArbeit_[0]->currentText(),
                  cboArbeit_[1]->currentText(), cboArbeit_[2]->currentText()});
}

void JobPanel::deleteFirstSelectedRow() {
    model_.removeFirstOf(selectedRows());
}

} // namespace kestro::ui
