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
    fields->addWidget(caption(QStringLiteral("Projekt:"), projectBox_), 0, 0);
    fields->addWidget(projectBox_, 0, 1);
    fields->addWidget(caption(QStringLiteral("Lieferanschrift:"), deliveryAddressBox_), 1, 0);
    fields->addWidget(deliveryAddressBox_, 1, 1);
    auto* deadline = new QHBoxLayout;
    deadline->addWidget(deadlineDate_, 1);
    deadline->addWidget(deadlineTimeBox_, 1);
    fields->addWidget(caption(QStringLiteral("Termin:"), deadlineDate_), 2, 0);
    fields->addLayout(deadline, 2, 1);
    fields->addWidget(caption(QStringLiteral("Bemerkungen:"), remarksBox_), 3, 0);
    fields->addWidget(remarksBox_, 3, 1, 2, 1, Qt::AlignTop);

    fields->addWidget(caption(QStringLiteral("Anzahl:"), copiesBox_), 0, 3);
    fields->addWidget(copiesBox_, 0, 4);
    fields->addWidget(caption(QStringLiteral("Color:"), colourBox_), 1, 3);
    fields->addWidget(colourBox_, 1, 4);
    for (int i = 0; i < 3; ++i) {
        fields->addWidget(caption(QStringLiteral("Verarbeitung %1:").arg(i + 1), stepBoxes_[i]),
                          2 + i, 3);
        fields->addWidget(stepBoxes_[i], 2 + i, 4);
    }
    fields->addWidget(applyButton_, 5, 4, Qt::AlignRight);

    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(addFileButton_);
    fileButtons->addStretch(1);
    fileButtons->addWidget(deleteButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(fields);
    layout->addWidget(fileList_, 1);
    layout->addLayout(fileButtons);

    setTabOrder(projectBox_, deliveryAddressBox_);
    setTabOrder(deliveryAddressBox_, deadlineDate_);
    setTabOrder(deadlineDate_, deadlineTimeBox_);
    setTabOrder(deadlineTimeBox_, remarksBox_);
    setTabOrder(remarksBox_, copiesBox_);
    setTabOrder(copiesBox_, colourBox_);
    setTabOrder(colourBox_, stepBoxes_[0]);
    setTabOrder(stepBoxes_[0], stepBoxes_[1]);
    setTabOrder(stepBoxes_[1], stepBoxes_[2]);
    setTabOrder(stepBoxes_[2], applyButton_);
    setTabOrder(applyButton_, fileList_);
    setTabOrder(fileList_, addFileButton_);
    setTabOrder(addFileButton_, deleteButton_);
}

void JobPanel::buildHeaderFields() {
    const QString optional = QStringLiteral("Optional");
    // Project and delivery address may also be typed, as the job store accepts a free text.
    projectBox_ = choiceBox(this, QStringLiteral("cboProjekt"), optional, true);
    deliveryAddressBox_ = choiceBox(this, QStringLiteral("cboLieferAdr"), optional, true);
    projectBox_->setMinimumContentsLength(24);
    deadlineDate_ = new QDateEdit(QDate::currentDate(), this);
    deadlineDate_->setObjectName(QStringLiteral("DTPicker1"));
    deadlineDate_->setCalendarPopup(true);
    deadlineDate_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    deadlineTimeBox_ = choiceBox(this, QStringLiteral("cboTime"), optional, false);
    deadlineTimeBox_->setPlaceholderText(compose::noTimeChosenText());
    boundPopup(deadlineTimeBox_, 16);
    remarksBox_ = new QLineEdit(this);
    remarksBox_->setObjectName(QStringLiteral("txtBemerk"));
}

void JobPanel::buildFileSettings() {
    const QString required = QStringLiteral("Pflichtfeld");
    copiesBox_ = choiceBox(this, QStringLiteral("cboAnzahl"), required, false);
    boundPopup(copiesBox_, 16);
    colourBox_ = choiceBox(this, QStringLiteral("cboColor"), required, false);
    for (int i = 0; i < 3; ++i)
        stepBoxes_[i] = choiceBox(this, QStringLiteral("cboArbeit%1").arg(i + 1), required, false);
    applyButton_ = new QPushButton(QStringLiteral("&Anwenden"), this);
    applyButton_->setObjectName(QStringLiteral("cmdAnwenden"));
    connect(applyButton_, &QPushButton::clicked, this, &JobPanel::applyToSelectedRows);
}

void JobPanel::buildFileList() {
    fileList_ = newFileListView(&model_, this);
    fileList_->setAlternatingRowColors(true);
    fileList_->setMinimumHeight(120);
    // The value columns are as wide as their longest possible entry (the catalogue's
    // texts, or what a row holds).
    using M = compose::FileListModel;
    columns_ = new FileListColumnFitter(fileList_, [this] {
        return std::map<int, QStringList>{{M::Color, itemsOf(colourBox_)},
                                          {M::Step1, itemsOf(stepBoxes_[0])},
                                          {M::Step2, itemsOf(stepBoxes_[1])},
                                          {M::Step3, itemsOf(stepBoxes_[2])}};
    });

    addFileButton_ = new QPushButton(QStringLiteral("Dateien &hinzufügen"), this);
    addFileButton_->setObjectName(QStringLiteral("cmdAddFile"));
    connect(addFileButton_, &QPushButton::clicked, this, &JobPanel::addFilesRequested);

    deleteButton_ = new QToolButton(this);
    deleteButton_->setObjectName(QStringLiteral("Image1"));
    deleteButton_->setToolTip(QStringLiteral("löscht die markierte Zeile"));
    deleteButton_->setAccessibleName(QStringLiteral("Zeile löschen"));
    deleteButton_->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    deleteButton_->setIconSize(QSize(24, 24));
    deleteButton_->setAutoRaise(true);
    connect(deleteButton_, &QToolButton::clicked, this, &JobPanel::deleteFirstSelectedRow);

    // The Delete key in the list does what the delete image does.
    auto* del = new QShortcut(QKeySequence::Delete, fileList_);
    del->setContext(Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, &JobPanel::deleteFirstSelectedRow);
}

void JobPanel::setProjects(const QStringList& labels) {
    if (!labels.isEmpty())
        replaceItems(projectBox_, labels, Match::RecordNumber);
}

void JobPanel::setDeliveries(const QStringList& labels) {
    if (!labels.isEmpty())
        replaceItems(deliveryAddressBox_, labels, Match::RecordNumber);
}

void JobPanel::setCatalogueLists(const QStringList& colors, const QStringList& work1,
                                 const QStringList& work2, const QStringList& work3) {
    replaceItems(colourBox_, colors);
    replaceItems(stepBoxes_[0], work1);
    replaceItems(stepBoxes_[1], work2);
    replaceItems(stepBoxes_[2], work3);
    columns_->fitNow();
}

void JobPanel::clearCatalogueLists() {
    setCatalogueLists({}, {}, {}, {});
}

void JobPanel::setDeadlineDate(const QDate& date) {
    deadlineDate_->setDate(date);
}

void JobPanel::fillFixedLists() {
    replaceItems(copiesBox_, compose::copiesChoices());
    replaceItems(deadlineTimeBox_, compose::deadlineTimes());
}

compose::JobSnapshot JobPanel::snapshot() const {
    compose::JobSnapshot job;
    job.project = projectBox_->currentText();
    job.delivery = deliveryAddressBox_->currentText();
    job.deadlineDate = deadlineDate_->date();
    job.deadlineTime = deadlineTimeBox_->currentIndex() < 0 ? compose::noTimeChosenText()
                                                            : deadlineTimeBox_->currentText();
    job.remarks = remarksBox_->text();
    job.files = model_.rows();
    return job;
}

void JobPanel::clearFiles() {
    model_.clear();
}

void JobPanel::clearJob() {
    model_.clear();
    remarksBox_->clear();
}

void JobPanel::loadJob(const compose::JobSnapshot& job) {
    if (!job.project.isEmpty())
        projectBox_->setCurrentText(job.project);
    if (!job.delivery.isEmpty())
        deliveryAddressBox_->setCurrentText(job.delivery);
    if (job.deadlineDate.isValid())
        deadlineDate_->setDate(job.deadlineDate);
    if (!job.deadlineTime.isEmpty())
        deadlineTimeBox_->setCurrentIndex(deadlineTimeBox_->findText(job.deadlineTime));
    remarksBox_->setText(job.remarks);
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
    for (const QModelIndex& index : fileList_->selectionModel()->selectedRows())
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
    model_.apply(selectedRows(), {copiesBox_->currentText(), colourBox_->currentText(),
                                  stepBoxes_[0]->currentText(), stepBoxes_[1]->currentText(),
                                  stepBoxes_[2]->currentText()});
}

void JobPanel::deleteFirstSelectedRow() {
    model_.removeFirstOf(selectedRows());
}

} // namespace kestro::ui
