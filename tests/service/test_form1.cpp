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
using namespace Qt::StringLiterals;

namespace {

// The diagnostics window over a running service; its controls are found by the names
// the administrators know them by.
class Form1Window : public ::testing::Test {
protected:
    Form1Window() {
        machine.env().set("SystemRoot", machine.path(u"windows"_s));
        service = std::make_unique<VellmonService>(VellmonService::Options{}, prompter);
        service->start();
        window = std::make_unique<Form1>(*service);
        window->show();
    }
    template <typename T = QPushButton> T* control(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* button) { QTest::mouseClick(control(button), Qt::LeftButton); }
    QString log() { return control<QPlainTextEdit>("Text1")->toPlainText(); }

    test::TestMachine machine;
    ScriptedPrompter prompter;
    std::unique_ptr<VellmonService> service;
    std::unique_ptr<Form1> window;
};

// The pipe buttons and the log box follow the pipe, a second service cannot take it, the
// test sender reaches the received box (a failed mailslot is shown), and closing the window
// ends the program.
TEST_F(Form1Window, FollowsThePipeSendsAndEndsTheProgram) {
    const QString listening = u"Listening: MaxClients=2, MaxRequest=20000, MaxResponse=200"_s;
    EXPECT_EQ(service->logText(), listening + u"\r\n"_s);
    EXPECT_EQ(log(), listening + u'\n');
    VellmonService second(VellmonService::Options{}, prompter);
    second.start();
    EXPECT_EQ(second.pipe().state(), PipeRpc::pstFree);
    EXPECT_EQ(second.logText(), u"Error 80048A00: Pipe #0, System error 231\r\n"_s);
    EXPECT_FALSE(control("cmdListen")->isEnabled());
    EXPECT_TRUE(control("cmdClosePipe")->isEnabled());
    click("cmdClosePipe");
    EXPECT_EQ(service->pipe().state(), PipeRpc::pstFree);
    EXPECT_TRUE(log().endsWith(u"\nPipe closed\n"_s));
    EXPECT_TRUE(control("cmdListen")->isEnabled());
    EXPECT_FALSE(control("cmdClosePipe")->isEnabled());
    click("cmdListen");
    EXPECT_EQ(service->pipe().state(), PipeRpc::pstListening);
    click("LogDel");
    EXPECT_EQ(log(), QString());

    control<QLineEdit>("txt_SendMsg")->setText(u"klong|über"_s);
    QSignalSpy received(service.get(), &VellmonService::receivedChanged);
    click("cmd_SendMsg");
    ASSERT_TRUE(received.wait(5000));
    EXPECT_EQ(control<QPlainTextEdit>("txt_RecMsg")->toPlainText(), u"klong|über\n"_s);
    EXPECT_TRUE(prompter.shown.empty());
    control<QLineEdit>("txt_SendSlot")->setText(u"//./mailslot/Niemand"_s);
    click("cmd_SendMsg");
    EXPECT_EQ(prompter.texts(),
              QStringList{u"Es konnte nicht in den Mailslot geschrieben werden!"_s});

    QSignalSpy unloaded(window.get(), &Form1::unloaded);
    click("cmd_CloseProg");
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
