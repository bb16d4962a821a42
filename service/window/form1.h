#pragma once

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestro::service {

class VellmonService;

// The diagnostics window "Vellmon": the mailslot to create, the received messages, a test
// sender, the pipe server's Listen/ClosePipe buttons and the log box. It only shows the
// service and presses its buttons; closing it ends the program, as it always did.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(VellmonService& service, QWidget* parent = nullptr);

Q_SIGNALS:
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setListening(bool listening);

    VellmonService& service_;
    QLineEdit* txt_MySlot;
    QPushButton* cmd_CreateSlot;
    QPlainTextEdit* txt_RecMsg;
    QLineEdit* txt_SendSlot;
    QLineEdit* txt_SendMsg;
    QPushButton* cmd_SendMsg;
    QPushButton* cmdListen;
    QPushButton* cmdClosePipe;
    QPlainTextEdit* Text1;
    QPushButton* LogDel;
    QPushButton* cmd_CloseProg;
};

} // namespace kestro::service
