#include "common/gui/qtprompter.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kestro::gui {
namespace {

QMessageBox::Icon qtIcon(Prompter::Icon icon) {
    switch (icon) {
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    case Prompter::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString QtPrompter::displayText(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QString QtPrompter::qtFilter(const QString& filter) {
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    return bar < 0 ? filter : filter.left(bar);
}

void QtPrompter::message(const QString& text, Icon icon, const QString& title) {
    QMessageBox box(qtIcon(icon), titleOr(title), displayText(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtPrompter::askYesNo(const QString& text, Icon icon, const QString& title) {
    QMessageBox box(qtIcon(icon), titleOr(title), displayText(text),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool QtPrompter::askChoice(const QString& text, Icon icon, const QString& accept,
                           const QString& reject, const QString& title) {
    QMessageBox box(qtIcon(icon), titleOr(title), displayText(text), QMessageBox::NoButton,
                    parent_);
    QPushButton* acceptButton = box.addButton(accept, QMessageBox::AcceptRole);
    QPushButton* rejectButton = box.addButton(reject, QMessageBox::RejectRole);
    // Cancelling is the safe answer: Enter alone must not trust a stranger's certificate.
    box.setDefaultButton(rejectButton);
    box.setEscapeButton(rejectButton);
    box.exec();
    return box.clickedButton() == acceptButton;
}

QString QtPrompter::chooseOpenFile(const QString& filter, const QString& initialFolder) {
    // The name of a file that does not exist yet is a valid answer: the caller then
    // offers to create it.
    QFileDialog dialog(parent_, QString(), initialFolder, qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace kestro::gui
