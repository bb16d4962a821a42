#include "client/ui/frmsearching.h"

#include "client/ui/reportlist.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace kestro::ui {
namespace {

// Typing starts a search from this many characters on; shorter texts search on Enter.
constexpr int kTypingMinimum = 5;
// The height the window takes once it lists hits (7890 twips).
constexpr int kHeightWithHits = 526;
// The gap to the browser's right edge (60 twips).
constexpr int kGapToBrowser = 4;

} // namespace

FrmSearching::FrmSearching(const QString& databasePath, std::function<void(qint32)> showJob,
                           QWidget* browser)
    : QDialog(browser), showJob_(std::move(showJob)), hits_(this), runner_(databasePath) {
    setObjectName(QStringLiteral("frmSearching"));
    setWindowTitle(QStringLiteral("suchen..."));

    textBox_ = new QLineEdit(this);
    textBox_->setObjectName(QStringLiteral("txtSuchen"));
    textBox_->setClearButtonEnabled(true);
    textBox_->setPlaceholderText(QStringLiteral("Suchbegriff"));
    searchButton_ = new QPushButton(QStringLiteral("Suchen"), this);
    searchButton_->setObjectName(QStringLiteral("cmdOK"));
    searchButton_->setAutoDefault(false);

    hitList_ = makeReportList(this, QStringLiteral("ListView1"), &hits_);
    hitList_->setSelectionMode(QAbstractItemView::SingleSelection);
    hitList_->installEventFilter(this);
    hitList_->hide(); // until the first search
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("lblStatus"));

    auto* top = new QHBoxLayout;
    top->addWidget(textBox_, 1);
    top->addWidget(searchButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(hitList_, 1);
    layout->addWidget(status_);

    textBox_->installEventFilter(this);
    connect(textBox_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.size() >= kTypingMinimum)
            startSearch();
    });
    connect(searchButton_, &QPushButton::clicked, this, &FrmSearching::startSearch);
    connect(hitList_, &QTreeView::doubleClicked, this, &FrmSearching::chooseHit);
    connect(&runner_, &history::SearchRunner::finished, this, &FrmSearching::onFinished);

    resize(460, sizeHint().height());
}

void FrmSearching::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (placed_ || !parentWidget())
        return;
    placed_ = true;
    // Beside the browser; where the screen ends first, as far right as it still fits.
    const QRect frame = parentWidget()->frameGeometry();
    int left = frame.right() + 1 + kGapToBrowser;
    if (const QScreen* screen = parentWidget()->screen()) {
        const QRect area = screen->availableGeometry();
        left = qMax(area.left(), qMin(left, area.right() + 1 - frameGeometry().width()));
    }
    move(left, frame.top());
}

void FrmSearching::startSearch() {
    hits_.clear();
    growForHits();
    status_->setText(QStringLiteral("suche ..."));
    setCursor(Qt::BusyCursor);
    runner_.search(textBox_->text());
}

void FrmSearching::onFinished(const history::SearchOutcome& outcome) {
    unsetCursor();
    hits_.setHits(outcome.hits);
    if (!outcome.error.isEmpty())
        status_->setText(QStringLiteral("Die Suche ist fehlgeschlagen: ") + outcome.error);
    else if (outcome.hits.isEmpty())
        status_->setText(QStringLiteral("keine Treffer"));
    else
        status_->setText(QStringLiteral("%1 Treffer").arg(outcome.hits.size()));
    if (!outcome.hits.isEmpty())
        hitList_->setCurrentIndex(hits_.index(0, 0));
    Q_EMIT searchFinished();
}

void FrmSearching::chooseHit(const QModelIndex& index) {
    if (!index.isValid() || hits_.rowCount() == 0 || !showJob_)
        return;
    // The hit's number as the worker sees it; a hit without a number shows job 0.
    showJob_(hits_.hits().at(index.row()).jobNumber.trimmed().toInt());
}

bool FrmSearching::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == textBox_)
                startSearch();
            else if (watched == hitList_)
                chooseHit(hitList_->currentIndex());
            else
                return QDialog::eventFilter(watched, event);
            return true; // the dialog must not close on Enter
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmSearching::growForHits() {
    if (hitList_->isHidden()) {
        hitList_->show();
        resize(width(), kHeightWithHits);
    }
}

void FrmSearching::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    fitColumns();
}

// Nr. 1/8, project or file name 1/2, date 1/6, cost centre 1/4 of the list's width, as
// far as the width allows.
void FrmSearching::fitColumns() {
    const int width = hitList_->viewport()->width();
    QHeaderView* header = hitList_->header();
    header->resizeSection(history::SearchHitModel::Number, width / 8);
    header->resizeSection(history::SearchHitModel::ProjectOrFile, width / 2);
    header->resizeSection(history::SearchHitModel::Date, width / 6);
    header->resizeSection(history::SearchHitModel::CostCentre,
                          width - width / 8 - width / 2 - width / 6);
}

} // namespace kestro::ui
