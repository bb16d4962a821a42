// The mail settings window on the offscreen platform: what it shows, which boxes the
// check boxes enable, and what OK writes to the registry (through the service) and keeps
// in memory.
#include "client/ui/frmemail.h"
#include "common/settingwriter.h"
#include "support/recordingwriter.h"
#include "support/uitest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::ui;
using startup::MailAccountSettings;

namespace {

class MailWindow : public ::testing::Test {
protected:
    template <typename T> T* find(FrmEMail& window, const char* name) {
        T* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* box(FrmEMail& w, const char* name) { return find<QLineEdit>(w, name); }
    QCheckBox* check(FrmEMail& w, const char* name) { return find<QCheckBox>(w, name); }
    void clickOk(FrmEMail& w) { QTest::mouseClick(find<QPushButton>(w, "cmdOK"), Qt::LeftButton); }
    // An own account on `server`, as stored before this window opens.
    static MailAccountSettings ownAccount(const char* server) {
        MailAccountSettings mail;
        mail.account = "1";
        mail.smtpServer = QString::fromLatin1(server);
        return mail;
    }
    // Types `keys` at the end of the server box, as the worker does.
    void typeAtServerEnd(FrmEMail& w, const QString& keys) {
        box(w, "txtServer")->setFocus();
        box(w, "txtServer")->end(false);
        QTest::keyClicks(box(w, "txtServer"), keys);
    }

    DeployConfig config;
    test::RecordingWriter writer;
};

// The built-in account is used when no own server is set: its boxes are off and show
// the built-in values, and OK stores none of them, nor a TLS choice the worker did not make.
TEST_F(MailWindow, TheBuiltInAccountWhenNoOwnServerIsSet) {
    MailAccountSettings mail;
    mail.account.clear(); // never written
    FrmEMail window(config, writer, mail);
    test::saveScreenshot(&window, "frmEMail");
    EXPECT_EQ(box(window, "txtPassword")->echoMode(), QLineEdit::Password);
    for (const char* label : {"lblServer", "lblPopServer", "lblFrom", "lblUsername", "lblPassword"})
        find<QLabel>(window, label);
    EXPECT_FALSE(check(window, "chkbEMail")->isChecked());
    EXPECT_FALSE(find<QGroupBox>(window, "fraOptional")->isEnabled());
    EXPECT_FALSE(box(window, "txtServer")->isEnabled());
    EXPECT_EQ(box(window, "txtServer")->text(), config.smtpServer);
    EXPECT_EQ(box(window, "txtFrom")->text(), config.from);
    EXPECT_EQ(box(window, "txtUsername")->text(), config.username);
    EXPECT_EQ(box(window, "txtPassword")->text(), config.password);

    clickOk(window);
    EXPECT_EQ(writer.writes, (QStringList{"KontoEM=0", "PopServer=", "SMTPServer=", "From=",
                                          "Username=", "PW=", "PopLogin=0", "GLogin=0"}));
    EXPECT_EQ(mail.account, "0");
    EXPECT_EQ(mail.smtpServer, config.smtpServer);
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(MailWindow, AnOwnAccountIsShownEnabledAndStoredInOrder) {
    MailAccountSettings mail = ownAccount("mail.kunde.example:587");
    mail.popServer = "pop.kunde.example";
    mail.from = "büro@kunde.example";
    mail.username = "buero";
    mail.password = "geheim";
    mail.smtpLogin = true;
    FrmEMail window(config, writer, mail);
    EXPECT_TRUE(check(window, "chkbEMail")->isChecked());
    EXPECT_TRUE(box(window, "txtServer")->isEnabled());
    EXPECT_TRUE(find<QLabel>(window, "lblServer")->isEnabled());
    EXPECT_TRUE(check(window, "ckLogin")->isChecked());
    EXPECT_EQ(box(window, "txtServer")->text(), mail.smtpServer);

    box(window, "txtPassword")->setText("neu");
    QTest::mouseClick(check(window, "ckPopLogin"), Qt::LeftButton);
    clickOk(window);
    EXPECT_EQ(writer.writes,
              (QStringList{"KontoEM=1", "PopServer=pop.kunde.example",
                           "SMTPServer=mail.kunde.example:587", "From=büro@kunde.example",
                           "Username=buero", "PW=neu", "PopLogin=1", "GLogin=1"}));
    EXPECT_EQ(mail.password, "neu");
    EXPECT_TRUE(mail.popLogin);
}

TEST_F(MailWindow, TheCheckBoxesEnableTheirBoxesAndKeepTheirContents) {
    MailAccountSettings mail;
    FrmEMail window(config, writer, mail);
    window.show();
    QTest::mouseClick(check(window, "chkbEMail"), Qt::LeftButton);
    EXPECT_TRUE(find<QGroupBox>(window, "fraOptional")->isEnabled());
    EXPECT_TRUE(box(window, "txtPopServer")->isEnabled());

    // Login on (ticked), then off: user name and password grey out, text stays.
    QTest::mouseClick(check(window, "ckLogin"), Qt::LeftButton);
    EXPECT_TRUE(box(window, "txtUsername")->isEnabled());
    QTest::mouseClick(check(window, "ckLogin"), Qt::LeftButton);
    EXPECT_FALSE(box(window, "txtUsername")->isEnabled());
    EXPECT_FALSE(box(window, "txtPassword")->isEnabled());
    EXPECT_FALSE(find<QLabel>(window, "lblPassword")->isEnabled());
    EXPECT_EQ(box(window, "txtUsername")->text(), config.username);
    EXPECT_TRUE(box(window, "txtServer")->isEnabled());

    QTest::mouseClick(check(window, "ckPopLogin"), Qt::LeftButton);
    QTest::mouseClick(check(window, "ckPopLogin"), Qt::LeftButton);
    EXPECT_FALSE(box(window, "txtPopServer")->isEnabled());
    EXPECT_FALSE(find<QLabel>(window, "lblPopServer")->isEnabled());

    // Own account chosen but the server emptied: the built-in values fill in.
    box(window, "txtServer")->clear();
    box(window, "txtFrom")->setText("eigen@kunde.example");
    clickOk(window);
    EXPECT_EQ(writer.writes.mid(0, 4),
              (QStringList{"KontoEM=1", "PopServer=", "SMTPServer=", "From="}));
    EXPECT_EQ(mail.from, config.from);
    EXPECT_EQ(mail.account, "1");
}

// TLS on connect: shown as the stored choice, or, where none was stored yet, as the port
// decided it; typing port 465 ticks it; OK stores it.
TEST_F(MailWindow, TlsOnConnectFollowsPort465AndIsStored) {
    struct Case {
        const char* server;
        std::optional<bool> stored;
        bool shown;
    };
    for (const Case& c : {Case{"mail.kunde.example:465", std::nullopt, true},
                          Case{"mail.kunde.example:587", std::nullopt, false},
                          Case{"mail.kunde.example:2465", true, true}}) {
        SCOPED_TRACE(c.server);
        MailAccountSettings mail = ownAccount(c.server);
        mail.tlsOnConnect = c.stored;
        FrmEMail window(config, writer, mail);
        EXPECT_EQ(check(window, "ckTlsOnConnect")->isChecked(), c.shown);
    }
    MailAccountSettings mail = ownAccount("mail.kunde.example");
    FrmEMail window(config, writer, mail);
    window.show();
    test::saveScreenshot(&window, "frmEMail-own");
    QCheckBox* tls = check(window, "ckTlsOnConnect");
    EXPECT_FALSE(tls->isChecked());
    typeAtServerEnd(window, ":465");
    EXPECT_TRUE(tls->isChecked());
    clickOk(window);
    EXPECT_TRUE(writer.writes.contains("SMTPTLS=1"));
    EXPECT_EQ(mail.tlsOnConnect, std::optional<bool>(true));
    EXPECT_TRUE(config.settingNames.contains("SMTPTLS"));
}

// The worker types port 465, sees it is wrong and corrects it to 587 (STARTTLS): the box
// that typing 465 ticked must not stay ticked, or every notification goes to the STARTTLS
// port as TLS on connect and fails.
TEST_F(MailWindow, CorrectingPort465ToAnotherUnticksWhatTypingTicked) {
    MailAccountSettings mail = ownAccount("mail.kunde.example");
    FrmEMail window(config, writer, mail);
    window.show();
    typeAtServerEnd(window, ":465");
    ASSERT_TRUE(check(window, "ckTlsOnConnect")->isChecked());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(box(window, "txtServer"), Qt::Key_Backspace);
    QTest::keyClicks(box(window, "txtServer"), "587");
    EXPECT_FALSE(check(window, "ckTlsOnConnect")->isChecked());
    clickOk(window);
    EXPECT_FALSE(writer.writes.contains("SMTPTLS=1"));

    // A configuration from before the box, on port 465, confirmed unchanged: the port
    // still decides, no setting pins it.
    writer.writes.clear();
    MailAccountSettings old = ownAccount("mail.kunde.example:465");
    FrmEMail oldWindow(config, writer, old);
    oldWindow.show();
    ASSERT_TRUE(check(oldWindow, "ckTlsOnConnect")->isChecked());
    clickOk(oldWindow);
    EXPECT_TRUE(writer.writes.filter(QRegularExpression("^SMTPTLS=")).isEmpty())
        << writer.writes.join('|').toStdString();
    EXPECT_EQ(old.tlsOnConnect, std::nullopt);
}

TEST_F(MailWindow, ClosingWithoutOkChangesNothing) {
    MailAccountSettings mail;
    FrmEMail window(config, writer, mail);
    window.show();
    QTest::mouseClick(check(window, "chkbEMail"), Qt::LeftButton);
    box(window, "txtServer")->setText("anders.example");
    window.reject();
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_EQ(mail.account, "0");
    EXPECT_TRUE(mail.smtpServer.isEmpty());
}

} // namespace
