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

    ownSlotBox_ = new QLineEdit(VellmonService::defaultMailslotName());
    named(ownSlotBox_, "txt_MySlot");
    createSlotButton_ = new QPushButton(QStringLiteral("Erstellen"));
    named(createSlotButton_, "cmd_CreateSlot");
    receivedText_ = new QPlainTextEdit;
    named(receivedText_, "txt_RecMsg");
    receivedText_->setReadOnly(true);
    auto* server = new QGroupBox(QStringLiteral("Server"));
    auto* serverForm = new QFormLayout(server);
    serverForm->addRow(QStringLiteral("MailSlot:"), ownSlotBox_);
    serverForm->addRow(QString(), createSlotButton_);
    serverForm->addRow(QStringLiteral("Empfangen:"), receivedText_);

    targetSlotBox_ = new QLineEdit(VellmonService::defaultMailslotName());
    named(targetSlotBox_, "txt_SendSlot");
    messageBox_ = new QLineEdit(QStringLiteral("Text1"));
    named(messageBox_, "txt_SendMsg");
    sendButton_ = new QPushButton(QStringLiteral("Senden"));
    named(sendButton_, "cmd_SendMsg");
    auto* client = new QGroupBox(QStringLiteral("Client"));
    auto* clientForm = new QFormLayout(client);
    clientForm->addRow(QStringLiteral("MailSlot:"), targetSlotBox_);
    clientForm->addRow(QStringLiteral("Sendetext:"), messageBox_);
    clientForm->addRow(QString(), sendButton_);

    listenButton_ = new QPushButton(QStringLiteral("Listen"));
    named(listenButton_, "cmdListen");
    closePipeButton_ = new QPushButton(QStringLiteral("ClosePipe"));
    named(closePipeButton_, "cmdClosePipe");
    logView_ = new QPlainTextEdit;
    named(logView_, "Text1");
    logView_->setReadOnly(true);
    logView_->setFont(QFont(QStringLiteral("Courier New")));
    clearLogButton_ = new QPushButton(QStringLiteral("LogDEL"));
    named(clearLogButton_, "LogDel");
    quitButton_ = new QPushButton(QStringLiteral("Beenden"));
    named(quitButton_, "cmd_CloseProg");

    auto* pipeRow = new QHBoxLayout;
    pipeRow->addWidget(listenButton_);
    pipeRow->addWidget(closePipeButton_);
    pipeRow->addStretch();
    pipeRow->addWidget(clearLogButton_);
    pipeRow->addWidget(quitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(client);
    layout->addLayout(pipeRow);
    layout->addWidget(logView_);

    logView_->setPlainText(service_.logText());
    receivedText_->setPlainText(service_.receivedText());
    setListening(service_.pipe().state() == PipeRpc::pstListening);

    connect(&service_, &VellmonService::logChanged, logView_, &QPlainTextEdit::setPlainText);
    connect(&service_, &VellmonService::receivedChanged, receivedText_,
            &QPlainTextEdit::setPlainText);
    connect(&service_, &VellmonService::listeningChanged, this, &Form1::setListening);
    connect(createSlotButton_, &QPushButton::clicked, this,
            [this] { service_.createSlot(ownSlotBox_->text()); });
    connect(sendButton_, &QPushButton::clicked, this,
            [this] { service_.sendTestMessage(targetSlotBox_->text(), messageBox_->text()); });
    connect(listenButton_, &QPushButton::clicked, this, [this] { service_.listen(); });
    connect(closePipeButton_, &QPushButton::clicked, this, [this] { service_.closePipe(); });
    connect(clearLogButton_, &QPushButton::clicked, this, [this] { service_.clearLog(); });
    connect(quitButton_, &QPushButton::clicked, this, &QWidget::close);
}

void Form1::setListening(bool listening) {
    listenButton_->setEnabled(!listening);
    closePipeButton_->setEnabled(listening);
}

void Form1::closeEvent(QCloseEvent* event) {
    service_.closeSlot();
    event->accept();
    Q_EMIT unloaded();
}

} // namespace kestro::service
