#pragma once

#include <QByteArray>
#include <QString>

// A service message: a command word and three fields joined by "|". Field 3 runs to the
// end and may itself hold "|". Built by the client, split by Vellmon.
namespace kestro {

struct ServiceMessage {
    QString command;
    QString field1;
    QString field2;
    QString field3;
};

QString buildServiceMessage(const QString& command, const QString& field1, const QString& field2,
                            const QString& field3);

// Splits at the first three "|". Where a separator is missing, the part in front of it
// stays empty and the remainder is carried on whole, so "klong" yields an empty command
// word and "ShowForm|True" yields field 3 "True".
ServiceMessage splitServiceMessage(const QString& text);

// Splits a "KeySchreiben" message: field 1 is the value name, field 3 the key path after
// the last "|", and field 2 everything between, so a value may itself hold "|" (a
// password, a folder). Messages with fewer separators split as splitServiceMessage.
ServiceMessage splitSettingMessage(const QString& text);

// The client's two messages.
inline const QString kSettingsKeyPath = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");
QString keySchreibenMessage(const QString& valueName, const QString& value);
QString searchingUpdateMessage(const QString& productName, const QString& clientFolder,
                               const QString& version);

// Vellmon's answer to an update request for a client the system's package manager
// installed: such a client is updated by the package manager, never by an installer.
inline const QString kPackageManagedAnswer = QStringLiteral("PackageManaged");

// On the pipe a message travels as UTF-16LE bytes without terminator.
QByteArray toUtf16Le(const QString& text);
// Odd trailing bytes are dropped.
QString fromUtf16Le(const QByteArray& bytes);

} // namespace kestro
