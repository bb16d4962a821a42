#pragma once

#include "client/startup/clientstate.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

// The shop's catalogue as the client reads it: which colours and processing steps the
// shop offers, and the account under which jobs are uploaded to it. The catalogue is an
// INI file the shop publishes; the targets list on the maker's web server says where it
// lies for each FTP server.
namespace kestro::startup {

// File names in the client data folder.
inline const QString kTargetsFileName = QStringLiteral("FTP-Targets.txt");
inline const QString kCatalogueFileName = QStringLiteral("Katalog.INI");
inline const QString kLogoFileName = QStringLiteral("Logo.jpg");
// Where the targets list lies below the maker's web server.
inline const QString kTargetsPath = QStringLiteral("/DevorOrava/FTP-Targets.txt");

// The four choice lists and the FTP account values of one catalogue. A list holds the
// values of keys 1, 2, 3, ... up to the first missing or empty one; every value is cut
// to 131 characters, as the profile reader of the shops' catalogues always did.
struct CatalogueLists {
    QStringList colors;  // [ColorMenue] Color1, Color2, ...
    QStringList work1;   // [Work1Menue] Work1, Work2, ...
    QStringList work2;   // [Work2Menue]
    QStringList work3;   // [Work3Menue]
    QString ftpUser;     // [FTP] User
    QString ftpPassword; // [FTP] PW
    QString mail;        // [FTP] Mail: where the job notification goes

    bool operator==(const CatalogueLists&) const = default;
};

// Reads the lists from a catalogue file. A missing, damaged or binary file, or a folder
// in its place, reads as empty lists and empty account values (with a log line).
CatalogueLists readCatalogueLists(const QString& catalogueFile);

// The catalogue supplies the FTP login and the notification address of the target; they
// replace what was set before, also with empty values.
void takeFtpAccount(FtpSettings& ftp, const CatalogueLists& lists);

// Looks up the catalogue address of an FTP server in the text of the targets list. A line
// is: host name, two separator characters (not checked), catalogue address, CR LF (the
// last line may lack it). The host must be the whole first field of a line, compared
// without regard to case, so a host that is only part of another host's name, or that
// appears inside an address, never picks a wrong line. The first matching line counts.
// A configured "host:port" matches a line for "host:port" first, then one for the host
// alone. Returns the rest of the line after the separators, without CR LF and outer
// blanks; nullopt when no line matches or the address is empty.
std::optional<QString> findCatalogueUrl(const QString& targetsText, const QString& ftpServer);

// The shop's logo lies beside its catalogue: the address up to its last "/", followed by
// "/FTP-Logo.jpg". Empty for an address without a path.
QString logoUrlFor(const QString& catalogueUrl);

// The targets list and the catalogue are read as UTF-8 when they are valid UTF-8, and as
// Windows-1252 otherwise.
QString decodeCatalogueText(const QByteArray& bytes);

} // namespace kestro::startup

Q_DECLARE_METATYPE(kestro::startup::CatalogueLists)
