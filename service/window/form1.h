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
    QLineEdit* ownSlotBox_ = nullptr;
    QPushButton* createSlotButton_ = nullptr;
    QPlainTextEdit* receivedText_ = nullptr;
    QLineEdit* targetSlotBox_ = nullptr;
    QLineEdit* messageBox_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* listenButton_ = nullptr;
    QPushButton* closePipeButton_ = nullptr;
    QPlainTextEdit* logView_ = nullptr;
    QPushButton* clearLogButton_ = nullptr;
    QPushButton* quitButton_ = nullptr;
};

} // namespace kestro::service
