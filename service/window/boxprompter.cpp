#include "service/window/boxprompter.h"

#include "service/servicelog.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kestro::service {

namespace {

QMessageBox::Icon boxIcon(Prompter::Icon icon) {
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

QString readable(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace

void BoxPrompter::message(const QString& text, Icon icon, const QString& title) {
    QMessageBox box(boxIcon(icon), title.isEmpty() ? kServiceTitle() : title, readable(text),
                    QMessageBox::Ok);
    box.exec();
}

bool BoxPrompter::askYesNo(const QString& text, Icon icon, const QString& title) {
    QMessageBox box(boxIcon(icon), title.isEmpty() ? kServiceTitle() : title, readable(text),
                    QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString BoxPrompter::chooseOpenFile(const QString& filter, const QString& initialFolder) {
    QString qtFilter = filter.section(QLatin1Char('|'), 0, 0);
    return QFileDialog::getOpenFileName(nullptr, QString(), initialFolder, qtFilter);
}

} // namespace kestro::service
