// The mail settings window: what it shows, which boxes the check boxes enable, and what OK
// writes to the registry (through the service) and keeps in memory.
#include "client/ui/frmemail.h"
#include "support/recordingwriter.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

using namespace kestro;
using kestro::test::child;
using startup::MailAccountSettings;

namespace {

class MailWindow : public ::testing::Test {
protected:
    static QLineEdit* box(ui::FrmEMail& w, const char* name) { return child<QLineEdit>(w, name); }
    static QCheckBox* check(ui::FrmEMail& w, const char* name) { return child<QCheckBox>(w, name); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // An own account on `server`, as stored before this window opens.
    static MailAccountSettings ownAccount(const char* server) {
        MailAccountSettings mail;
        mail.account = "1";
        mail.smtpServer = QString::fromLatin1(server);
        return mail;
    }
    // The SMTPTLS values OK wrote.
    QStringList tlsWrites() const { return writer.writes.filter(QRegularExpression("^SMTPTLS=")); }

    DeployConfig config;
    test::RecordingWriter writer;
};

} // namespace

// The built-in account is used when no own server is set: its boxes are off and show the
// built-in values; closing without OK changes nothing; OK stores none of them, nor a TLS
// choice the worker did not make. An own account with the server emptied gets them, too.
TEST_F(MailWindow, TheBuiltInAccountWhenNoOwnServerIsSet) {
    MailAccountSettings mail;
    mail.account.clear(); // never written
    {
        ui::FrmEMail window(config, writer, mail);
        window.show();
        click(check(window, "chkbEMail"));
        box(window, "txtServer")->setText("anders.example");
        window.reject();
    }
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_EQ(mail.account, "");
    EXPECT_TRUE(mail.smtpServer.isEmpty());

    ui::FrmEMail window(config, writer, mail);
    test::saveScreenshot(&window, "frmEMail");
    EXPECT_EQ(box(window, "txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(check(window, "chkbEMail")->isChecked());
    EXPECT_FALSE(child<QGroupBox>(window, "fraOptional")->isEnabled());
    EXPECT_FALSE(box(window, "txtServer")->isEnabled());
    EXPECT_EQ(box(window, "txtServer")->text(), config.smtpServer);
    EXPECT_EQ(box(window, "txtFrom")->text(), config.from);
    EXPECT_EQ(box(window, "txtUsername")->text(), config.username);
    EXPECT_EQ(box(window, "txtPassword")->text(), config.password);
    test::press(window, "cmdOK");
    EXPECT_EQ(writer.writes, (QStringList{"KontoEM=0", "PopServer=", "SMTPServer=", "From=",
                                          "Username=", "PW=", "PopLogin=0", "GLogin=0"}));
    EXPECT_EQ(mail.account, "0");
    EXPECT_EQ(mail.smtpServer, config.smtpServer);
    EXPECT_EQ(window.result(), QDialog::Accepted);

    writer.writes.clear();
    ui::FrmEMail own(config, writer, mail);
    own.show();
    click(check(own, "chkbEMail"));
    EXPECT_TRUE(child<QGroupBox>(own, "fraOptional")->isEnabled());
    box(own, "txtServer")->clear();
    box(own, "txtFrom")->setText("eigen@kunde.example");
    test::press(own, "cmdOK");
    EXPECT_EQ(writer.writes.mid(0, 4),
              (QStringList{"KontoEM=1", "PopServer=", "SMTPServer=", "From="}));
    EXPECT_EQ(mail.from, config.from);
    EXPECT_EQ(mail.account, "1");
}

// An own account shows enabled; its check boxes grey their boxes out and in, keeping what
// they hold; OK stores every value in the order the service expects.
TEST_F(MailWindow, AnOwnAccountIsShownEnabledAndStoredInOrder) {
    MailAccountSettings mail = ownAccount("mail.kunde.example:587");
    mail.popServer = "pop.kunde.example";
    mail.from = "büro@kunde.example";
    mail.username = "buero";
    mail.password = "geheim";
    mail.smtpLogin = true;
    ui::FrmEMail window(config, writer, mail);
    window.show();
    EXPECT_TRUE(check(window, "chkbEMail")->isChecked());
    EXPECT_TRUE(child<QGroupBox>(window, "fraOptional")->isEnabled());
    EXPECT_TRUE(box(window, "txtServer")->isEnabled());
    EXPECT_TRUE(child<QLabel>(window, "lblServer")->isEnabled());
    EXPECT_TRUE(check(window, "ckLogin")->isChecked());
    EXPECT_EQ(box(window, "txtServer")->text(), mail.smtpServer);
    click(check(window, "ckLogin"));
    EXPECT_FALSE(box(window, "txtUsername")->isEnabled());
    EXPECT_FALSE(box(window, "txtPassword")->isEnabled());
    EXPECT_FALSE(child<QLabel>(window, "lblPassword")->isEnabled());
    EXPECT_EQ(box(window, "txtUsername")->text(), "buero");
    click(check(window, "ckLogin"));
    EXPECT_TRUE(box(window, "txtUsername")->isEnabled());
    click(check(window, "ckPopLogin"));
    click(check(window, "ckPopLogin"));
    EXPECT_FALSE(box(window, "txtPopServer")->isEnabled());
    EXPECT_FALSE(child<QLabel>(window, "lblPopServer")->isEnabled());
    click(check(window, "ckPopLogin"));
    EXPECT_TRUE(box(window, "txtPopServer")->isEnabled());
    box(window, "txtPassword")->setText("neu");
    test::press(window, "cmdOK");
    EXPECT_EQ(writer.writes,
              (QStringList{"KontoEM=1", "PopServer=pop.kunde.example",
                           "SMTPServer=mail.kunde.example:587", "From=büro@kunde.example",
                           "Username=buero", "PW=neu", "PopLogin=1", "GLogin=1"}));
    EXPECT_EQ(mail.password, "neu");
    EXPECT_TRUE(mail.popLogin);
}

// TLS on connect shows the stored choice or, where none was stored (a configuration from
// before the box), as the port decides; confirmed unchanged, no setting pins it.
TEST_F(MailWindow, TlsOnConnectShowsTheStoredChoiceOrThePorts) {
    struct Case {
        const char* server;
        std::optional<bool> stored;
        bool shown;
    };
    for (const Case& c : {Case{"mail.kunde.example:465", std::nullopt, true},
                          Case{"mail.kunde.example:587", std::nullopt, false},
                          Case{"mail.kunde.example:2465", true, true}}) {
        SCOPED_TRACE(c.server);
        writer.writes.clear();
        MailAccountSettings mail = ownAccount(c.server);
        mail.tlsOnConnect = c.stored;
        ui::FrmEMail window(config, writer, mail);
        EXPECT_EQ(check(window, "ckTlsOnConnect")->isChecked(), c.shown);
        test::press(window, "cmdOK");
        if (!c.stored) {
            EXPECT_EQ(tlsWrites(), QStringList()) << writer.writes.join('|').toStdString();
            EXPECT_EQ(mail.tlsOnConnect, std::nullopt);
        }
    }
}

// Typing port 465 ticks TLS on connect and OK stores it; corrected to 587 (STARTTLS) the tick
// must go, or every notification goes to the STARTTLS port as TLS on connect and fails.
TEST_F(MailWindow, Port465TypedTicksTlsOnConnectAndCorrectingItUnticks) {
    for (const char* correction : {"", "587"}) {
        SCOPED_TRACE(correction);
        writer.writes.clear();
        MailAccountSettings mail = ownAccount("mail.kunde.example");
        ui::FrmEMail window(config, writer, mail);
        window.show();
        test::saveScreenshot(&window, "frmEMail-own");
        QCheckBox* tls = check(window, "ckTlsOnConnect");
        EXPECT_FALSE(tls->isChecked());
        box(window, "txtServer")->setFocus();
        box(window, "txtServer")->end(false);
        QTest::keyClicks(box(window, "txtServer"), ":465");
        ASSERT_TRUE(tls->isChecked());
        if (*correction) {
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(box(window, "txtServer"), Qt::Key_Backspace);
            QTest::keyClicks(box(window, "txtServer"), correction);
        }
        const bool ticked = !*correction;
        EXPECT_EQ(tls->isChecked(), ticked);
        test::press(window, "cmdOK");
        EXPECT_EQ(tlsWrites().contains("SMTPTLS=1"), ticked)
            << writer.writes.join('|').toStdString();
        EXPECT_EQ(mail.tlsOnConnect == std::optional<bool>(true), ticked);
    }
}
