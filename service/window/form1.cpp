#include "service/window/form1.h"

#include "service/vellmonservice.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro::service {

Form1::Form1(VellmonService& service, QWidget* parent) : QWidget(parent), service_(service) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vellmon"));
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };

    txt_MySlot = new QLineEdit(VellmonService::defaultMailslotName());
    named(txt_MySlot, "txt_MySlot");
    cmd_CreateSlot = new QPushButton(QStringLiteral("Erstellen"));
    named(cmd_CreateSlot, "cmd_CreateSlot");
    txt_RecMsg = new QPlainTextEdit;
    named(txt_RecMsg, "txt_RecMsg");
    txt_RecMsg->setReadOnly(true);
    auto* server = new QGroupBox(QStringLiteral("Server"));
    auto* serverForm = new QFormLayout(server);
    serverForm->addRow(QStringLiteral("MailSlot:"), txt_MySlot);
    serverForm->addRow(QString(), cmd_CreateSlot);
    serverForm->addRow(QStringLiteral("Empfangen:"), txt_RecMsg);

    txt_SendSlot = new QLineEdit(VellmonService::defaultMailslotName());
    named(txt_SendSlot, "txt_SendSlot");
    txt_SendMsg = new QLineEdit(QStringLiteral("Text1"));
    named(txt_SendMsg, "txt_SendMsg");
    cmd_SendMsg = new QPushButton(QStringLiteral("Senden"));
    named(cmd_SendMsg, "cmd_SendMsg");
    auto* client = new QGroupBox(QStringLiteral("Client"));
    auto* clientForm = new QFormLayout(client);
    clientForm->addRow(QStringLiteral("MailSlot:"), txt_SendSlot);
    clientForm->addRow(QStringLiteral("Sendetext:"), txt_SendMsg);
    clientForm->addRow(QString(), cmd_SendMsg);

    cmdListen = new QPushButton(QStringLiteral("Listen"));
    named(cmdListen, "cmdListen");
    cmdClosePipe = new QPushButton(QStringLiteral("ClosePipe"));
    named(cmdClosePipe, "cmdClosePipe");
    Text1 = new QPlainTextEdit;
    named(Text1, "Text1");
    Text1->setReadOnly(true);
    Text1->setFont(QFont(QStringLiteral("Courier New")));
    LogDel = new QPushButton(QStringLiteral("LogDEL"));
    named(LogDel, "LogDel");
    cmd_CloseProg = new QPushButton(QStringLiteral("Beenden"));
    named(cmd_CloseProg, "cmd_CloseProg");

    auto* pipeRow = new QHBoxLayout;
    pipeRow->addWidget(cmdListen);
    pipeRow->addWidget(cmdClosePipe);
    pipeRow->addStretch();
    pipeRow->addWidget(LogDel);
    pipeRow->addWidget(cmd_CloseProg);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(client);
    layout->addLayout(pipeRow);
    layout->addWidget(Text1);

    Text1->setPlainText(service_.logText());
    txt_RecMsg->setPlainText(service_.receivedText());
    setListening(service_.pipe().state() == PipeRpc::pstListening);

    connect(&service_, &VellmonService::logChanged, Text1, &QPlainTextEdit::setPlainText);
    connect(&service_, &VellmonService::receivedChanged, txt_RecMsg, &QPlainTextEdit::setPlainText);
    connect(&service_, &VellmonService::listeningChanged, this, &Form1::setListening);
    connect(cmd_CreateSlot, &QPushButton::clicked, this,
            [this] { service_.createSlot(txt_MySlot->text()); });
    connect(cmd_SendMsg, &QPushButton::clicked, this,
            [this] { service_.sendTestMessage(txt_SendSlot->text(), txt_SendMsg->text()); });
    connect(cmdListen, &QPushButton::clicked, this, [this] { service_.listen(); });
    connect(cmdClosePipe, &QPushButton::clicked, this, [this] { service_.closePipe(); });
    connect(LogDel, &QPushButton::clicked, this, [this] { service_.clearLog(); });
    connect(cmd_CloseProg, &QPushButton::clicked, this, &QWidget::close);
}

void Form1::setListening(bool listening) {
    cmdListen->setEnabled(!listening);
    cmdClosePipe->setEnabled(listening);
}

void Form1::closeEvent(QCloseEvent* event) {
    service_.closeSlot();
    event->accept();
    Q_EMIT unloaded();
}

} // namespace kestro::service
