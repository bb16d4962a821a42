#include "client/ui/recordeditorwindow.h"

#include "client/ui/windowplacement.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {

// The scroll bar does not step on its own at the arrow keys; the worker at the keyboard
// steps through the records with them, Home and End reach the first and last.
class ArrowKeyStepper : public QObject {
public:
    explicit ArrowKeyStepper(QScrollBar* bar) : QObject(bar), bar_(bar) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != bar_ || event->type() != QEvent::KeyPress)
            return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            bar_->triggerAction(QAbstractSlider::SliderSingleStepSub);
            return true;
        case Qt::Key_Right:
        case Qt::Key_Down:
            bar_->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            return true;
        case Qt::Key_Home:
            bar_->triggerAction(QAbstractSlider::SliderToMinimum);
            return true;
        case Qt::Key_End:
            bar_->triggerAction(QAbstractSlider::SliderToMaximum);
            return true;
        default:
            return false;
        }
    }

private:
    QScrollBar* bar_;
};

} // namespace

namespace {

QPushButton* barButton(QWidget* bar, const QString& name, const QString& text) {
    auto* button = new QPushButton(text, bar);
    button->setObjectName(name);
    button->setAutoDefault(false);
    bar->layout()->addWidget(button);
    return button;
}

} // namespace

RecordEditorWindow::RecordEditorWindow(const jobdb::Database& db, jobdb::EditorConfig config,
                                       Prompter& prompter, QWidget* parent)
    : QDialog(parent), editor_(db, std::move(config)), prompter_(prompter) {
    const jobdb::EditorConfig& cfg = editor_.config();
    const bool projects = cfg.listToReload == jobdb::EditorConfig::List::Projects;
    setObjectName(projects ? QStringLiteral("frmProjekt") : QStringLiteral("frmLieferAdr"));
    setWindowTitle(cfg.caption);
    setModal(true);

    auto* fields = new QGridLayout;
    auto addField = [&](const QString& name, const QString& caption, int row) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        auto* label = new QLabel(caption, this);
        label->setBuddy(edit);
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
        return edit;
    };
    numberBox_ = addField(projects ? QStringLiteral("txtProNr") : QStringLiteral("txtLiefNr"),
                          cfg.numberLabel, 0);
    numberBox_->setValidator(new QIntValidator(0, jobdb::RecordEditor::kHighestNumber, numberBox_));
    numberBox_->setMaximumWidth(120);
    for (int i = 0; i < 3; ++i)
        nameBoxes_[i] = addField(QStringLiteral("txtName%1").arg(i + 1),
                                 QStringLiteral("Name&%1").arg(i + 1), 1 + i);
    streetBox_ = addField(QStringLiteral("txtStra"), QStringLiteral("&Straße"), 4);
    postcodeCityBox_ = addField(QStringLiteral("txtPLZOrt"), QStringLiteral("PL&Z + Ort"), 5);
    contactBox_ = addField(QStringLiteral("txtAnsp"), QStringLiteral("&Ansprech"), 6);
    for (QLineEdit* edit :
         {nameBoxes_[0], nameBoxes_[1], nameBoxes_[2], streetBox_, postcodeCityBox_, contactBox_})
        edit->setMaxLength(80); // the columns hold 80 characters
    fields->setColumnStretch(1, 1);

    recordScroller_ = new QScrollBar(Qt::Horizontal, this);
    recordScroller_->setObjectName(QStringLiteral("HScroll1"));
    recordScroller_->setPageStep(1);
    // A worker at the keyboard tabs to the bar and steps through the records with the
    // arrow keys.
    recordScroller_->setFocusPolicy(Qt::StrongFocus);
    recordScroller_->installEventFilter(new ArrowKeyStepper(recordScroller_));

    auto* buttonBar = new QWidget(this);
    buttonBar->setObjectName(QStringLiteral("picButtons"));
    auto* barLayout = new QHBoxLayout(buttonBar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    QPushButton* newButton = barButton(buttonBar, QStringLiteral("cmdNew"), QStringLiteral("&Neu"));
    QPushButton* saveButton =
        barButton(buttonBar, QStringLiteral("cmdSave"), QStringLiteral("&Speichern"));
    QPushButton* deleteButton =
        barButton(buttonBar, QStringLiteral("cmdDelete"), QStringLiteral("&Löschen"));
    barLayout->addStretch(1);
    QPushButton* closeButton =
        barButton(buttonBar, QStringLiteral("cmdClose"), QStringLiteral("S&chließen"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(recordScroller_);
    layout->addWidget(buttonBar);
    setMinimumWidth(480);

    // Load: the scroll bar reaches up to the highest number and stands on the first
    // record, which the window shows at once; one click then reaches its neighbour,
    // and a table of one record shows that record.
    const qint32 highest = editor_.maximumNumber();
    recordScroller_->setRange(highest > 0 ? 1 : 0, highest);
    if (const qint32 first = editor_.firstNumber(); first > 0) {
        recordScroller_->setValue(first);
        seekX(first);
    }

    connect(recordScroller_, &QScrollBar::valueChanged, this, &RecordEditorWindow::seekX);
    connect(newButton, &QPushButton::clicked, this, &RecordEditorWindow::newRecord);
    connect(saveButton, &QPushButton::clicked, this, &RecordEditorWindow::save);
    connect(deleteButton, &QPushButton::clicked, this, &RecordEditorWindow::markDeleted);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    // However the window closes, the main window's list reflects what was saved.
    connect(this, &QDialog::finished, this,
            [this] { Q_EMIT listReloadRequested(editor_.config().listToReload); });
    centerOnScreen(this);
}

void RecordEditorWindow::seekX(qint32 number) {
    if (const auto record = editor_.seek(number))
        showRecord(*record);
}

jobdb::EditorRecord RecordEditorWindow::shownRecord() const {
    return {numberBox_->text().toInt(), nameBoxes_[0]->text(), nameBoxes_[1]->text(),
            nameBoxes_[2]->text(),      streetBox_->text(),    postcodeCityBox_->text(),
            contactBox_->text()};
}

void RecordEditorWindow::showRecord(const jobdb::EditorRecord& record) {
    // No record shown (0) leaves the number box empty rather than showing a number 0.
    numberBox_->setText(record.number > 0 ? QString::number(record.number) : QString());
    nameBoxes_[0]->setText(record.name1);
    nameBoxes_[1]->setText(record.name2);
    nameBoxes_[2]->setText(record.name3);
    streetBox_->setText(record.street);
    postcodeCityBox_->setText(record.plzOrt);
    contactBox_->setText(record.contact);
}

void RecordEditorWindow::newRecord() {
    const auto record = editor_.newRecord();
    if (!record) {
        prompter_.message(QStringLiteral("Es konnte kein neuer Datensatz angelegt werden."),
                          Prompter::Icon::Critical, windowTitle());
        return;
    }
    showRecord(*record);
    recordScroller_->setRange(1, record->number);
    recordScroller_->setValue(record->number);
}

void RecordEditorWindow::save() {
    const jobdb::EditorRecord record = shownRecord();
    if (record.number < 1) {
        prompter_.message(QStringLiteral("Bitte zuerst einen Datensatz wählen oder mit "
                                         "\"Neu\" anlegen."),
                          Prompter::Icon::Exclamation, windowTitle());
        return;
    }
    if (record.number > jobdb::RecordEditor::kHighestNumber) {
        // The bar could never reach it, and every later "Neu" would fail.
        prompter_.message(QStringLiteral("Die Nummer %1 ist zu groß: bitte eine Nummer von 1 "
                                         "bis %2 eingeben.")
                              .arg(record.number)
                              .arg(jobdb::RecordEditor::kHighestNumber),
                          Prompter::Icon::Exclamation, windowTitle());
        return;
    }
    if (!editor_.save(record)) {
        prompter_.message(QStringLiteral("Der Datensatz konnte nicht gespeichert werden."),
                          Prompter::Icon::Critical, windowTitle());
        return;
    }
    if (record.number > recordScroller_->maximum())
        recordScroller_->setMaximum(record.number);
}

void RecordEditorWindow::markDeleted() {
    showRecord(jobdb::RecordEditor::markedDeleted(shownRecord(), QDate::currentDate()));
}

} // namespace kestro::ui
