#include "common/servicemessage.h"
#include "service/vellmonservice.h"
#include "service/window/form1.h"
#include "support/testenv.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::service;

namespace {

class Form1Window : public ::testing::Test {
protected:
    Form1Window() {
        machine.env().set("SystemRoot", machine.path(QStringLiteral("windows")));
        service = std::make_unique<VellmonService>(VellmonService::Options{}, prompter);
        service->start();
        window = std::make_unique<Form1>(*service);
        window->show();
    }
    template <typename T> T* control(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString log() { return control<QPlainTextEdit>("Text1")->toPlainText(); }

    test::TestMachine machine;
    ScriptedPrompter prompter;
    std::unique_ptr<VellmonService> service;
    std::unique_ptr<Form1> window;
};

TEST_F(Form1Window, ControlsAsTheServiceStarted) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vellmon"));
    EXPECT_EQ(control<QLineEdit>("txt_MySlot")->text(),
              QStringLiteral("//./mailslot/Vellmon/AllVersion"));
    EXPECT_EQ(control<QLineEdit>("txt_SendSlot")->text(),
              QStringLiteral("//./mailslot/Vellmon/AllVersion"));
    EXPECT_EQ(control<QLineEdit>("txt_SendMsg")->text(), QStringLiteral("Text1"));
    EXPECT_EQ(control<QPushButton>("cmd_CreateSlot")->text(), QStringLiteral("Erstellen"));
    EXPECT_EQ(control<QPushButton>("cmd_SendMsg")->text(), QStringLiteral("Senden"));
    EXPECT_EQ(control<QPushButton>("LogDel")->text(), QStringLiteral("LogDEL"));
    EXPECT_EQ(control<QPushButton>("cmd_CloseProg")->text(), QStringLiteral("Beenden"));
    EXPECT_EQ(control<QPlainTextEdit>("Text1")->font().family(), QStringLiteral("Courier New"));
    EXPECT_EQ(service->logText(),
              QStringLiteral("Listening: MaxClients=2, MaxRequest=20000, MaxResponse=200\r\n"));
    EXPECT_EQ(log(),
              QStringLiteral("Listening: MaxClients=2, MaxRequest=20000, MaxResponse=200\n"));
    EXPECT_FALSE(control<QPushButton>("cmdListen")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("cmdClosePipe")->isEnabled());
}

TEST_F(Form1Window, PipeButtonsAndLogBox) {
    QTest::mouseClick(control<QPushButton>("cmdClosePipe"), Qt::LeftButton);
    EXPECT_EQ(service->pipe().state(), PipeRpc::pstFree);
    EXPECT_TRUE(log().endsWith(QStringLiteral("\nPipe closed\n")));
    EXPECT_TRUE(control<QPushButton>("cmdListen")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("cmdClosePipe")->isEnabled());
    QTest::mouseClick(control<QPushButton>("cmdListen"), Qt::LeftButton);
    EXPECT_EQ(service->pipe().state(), PipeRpc::pstListening);
    QTest::mouseClick(control<QPushButton>("LogDel"), Qt::LeftButton);
    EXPECT_EQ(log(), QString());
}

TEST_F(Form1Window, TestSenderReachesTheReceivedBox) {
    control<QLineEdit>("txt_SendMsg")->setText(QStringLiteral("klong|über"));
    QSignalSpy received(service.get(), &VellmonService::receivedChanged);
    QTest::mouseClick(control<QPushButton>("cmd_SendMsg"), Qt::LeftButton);
    ASSERT_TRUE(received.wait(5000));
    EXPECT_EQ(control<QPlainTextEdit>("txt_RecMsg")->toPlainText(), QStringLiteral("klong|über\n"));
    EXPECT_TRUE(prompter.shown.empty());

    control<QLineEdit>("txt_SendSlot")->setText(QStringLiteral("//./mailslot/Niemand"));
    QTest::mouseClick(control<QPushButton>("cmd_SendMsg"), Qt::LeftButton);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!"));
}

TEST_F(Form1Window, ClosingTheWindowEndsTheProgram) {
    QSignalSpy unloaded(window.get(), &Form1::unloaded);
    QTest::mouseClick(control<QPushButton>("cmd_CloseProg"), Qt::LeftButton);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

} // namespace

namespace {

TEST_F(Form1Window, ASecondServiceCannotTakeThePipe) {
    VellmonService second(VellmonService::Options{}, prompter);
    second.start();
    EXPECT_EQ(second.pipe().state(), PipeRpc::pstFree);
    EXPECT_EQ(second.logText(), QStringLiteral("Error 80048A00: Pipe #0, System error 231\r\n"));
    EXPECT_EQ(service->pipe().state(), PipeRpc::pstListening);
}

} // namespace
