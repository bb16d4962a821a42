#include "client/send/sendjobfile.h"

#include "client/compose/choicelists.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cmath>

namespace kestro::transfer {

namespace {

// A value as a message shows it: a NUL would cut the message where it stands.
QString visible(const QString& value) {
    return QString(value).replace(QChar(0), QStringLiteral("\\0"));
}

// A text member: absent gives `fallback`; a number is taken as its decimal text (copies
// are often written as 3, and 5.5 stays "5.5" for the check that refuses it); anything else
// is an error.
std::optional<QString> textMember(const QJsonObject& object, const QString& key,
                                  const QString& fallback, QString& error, const QString& where) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined() || v.isNull())
        return fallback;
    if (v.isString())
        return v.toString();
    if (v.isDouble()) {
        // Only a whole number well inside the range of qint64 is converted to one; a cast of
        // anything else (1e300) is undefined.
        const double d = v.toDouble();
        if (std::abs(d) < 1e15 && d == std::trunc(d))
            return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    error = QStringLiteral("%1\"%2\" must be a text").arg(where, key);
    return std::nullopt;
}

std::optional<compose::FileRow> fileRow(const QJsonValue& value, int index, QString& error) {
    const QString where = QStringLiteral("files[%1].").arg(index);
    if (!value.isObject()) {
        error = QStringLiteral("files[%1] must be an object").arg(index);
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    compose::FileRow row;
    row.number = QString::number(index + 1);
    const auto path = textMember(o, QStringLiteral("path"), {}, error, where);
    if (!path)
        return std::nullopt;
    if (path->isEmpty()) {
        error = where + QStringLiteral("\"path\" is missing");
        return std::nullopt;
    }
    // No file name holds a NUL; the system would read a different, shorter name.
    if (path->contains(QChar(0))) {
        error =
            where + QStringLiteral("\"path\" \"%1\" contains a NUL character").arg(visible(*path));
        return std::nullopt;
    }
    row.fullPath = QFileInfo(*path).absoluteFilePath();
    row.fileName = QFileInfo(*path).fileName();
    const auto copies = textMember(o, QStringLiteral("copies"), {}, error, where);
    const auto color = textMember(o, QStringLiteral("color"), {}, error, where);
    if (!copies || !color)
        return std::nullopt;
    if (!copies->isEmpty() && !compose::copiesChoices().contains(*copies)) {
        error = QStringLiteral("%1\"copies\" of %2 must be 1 to 100, not \"%3\"")
                    .arg(where, *path, *copies);
        return std::nullopt;
    }
    row.copies = *copies;
    row.color = *color;
    const QJsonValue steps = o.value(QStringLiteral("steps"));
    if (!steps.isUndefined() && !steps.isNull()) {
        const QJsonArray a = steps.toArray();
        if (!steps.isArray() || a.size() > 3) {
            error = where + QStringLiteral("\"steps\" must be a list of at most three texts");
            return std::nullopt;
        }
        QString* cells[] = {&row.step1, &row.step2, &row.step3};
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (!a.at(i).isString()) {
                error = where + QStringLiteral("\"steps\" must hold texts");
                return std::nullopt;
            }
            *cells[i] = a.at(i).toString();
        }
    }
    return row;
}

} // namespace

SendJobFile parseSendJobFile(const QByteArray& json, const QDate& today) {
    SendJobFile out;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        out.error = QStringLiteral("not valid JSON: %1 at offset %2")
                        .arg(parseError.errorString())
                        .arg(parseError.offset);
        return out;
    }
    if (!doc.isObject()) {
        out.error = QStringLiteral("the job must be a JSON object");
        return out;
    }
    const QJsonObject o = doc.object();
    compose::JobSnapshot job;
    const auto project = textMember(o, QStringLiteral("project"), {}, out.error, {});
    const auto delivery = textMember(o, QStringLiteral("delivery"), {}, out.error, {});
    const auto time =
        textMember(o, QStringLiteral("time"), QStringLiteral("Uhrzeit"), out.error, {});
    const auto remarks = textMember(o, QStringLiteral("remarks"), {}, out.error, {});
    const auto date = textMember(o, QStringLiteral("date"), {}, out.error, {});
    if (!project || !delivery || !time || !remarks || !date)
        return out;
    // The window fills these from its lists and a line edit, none of which can hold a NUL;
    // a script's NUL would reach the job sheet, the mail and the database.
    const std::pair<const char*, const QString&> texts[] = {{"project", *project},
                                                            {"delivery", *delivery},
                                                            {"time", *time},
                                                            {"remarks", *remarks},
                                                            {"date", *date}};
    for (const auto& [key, text] : texts) {
        if (text.contains(QChar(0))) {
            out.error = QStringLiteral("\"%1\" \"%2\" contains a NUL character")
                            .arg(QLatin1String(key), visible(text));
            return out;
        }
    }
    job.project = *project;
    job.delivery = *delivery;
    job.deadlineTime = *time;
    job.remarks = *remarks;
    job.deadlineDate = date->isEmpty() ? today : QDate::fromString(*date, Qt::ISODate);
    if (!job.deadlineDate.isValid()) {
        out.error = QStringLiteral("\"date\" must be a date like 2026-12-07");
        return out;
    }
    const QJsonValue files = o.value(QStringLiteral("files"));
    if (!files.isArray()) {
        out.error = QStringLiteral("\"files\" must be a list of files");
        return out;
    }
    const QJsonArray list = files.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const auto row = fileRow(list.at(i), int(i), out.error);
        if (!row)
            return out;
        job.files << *row;
    }
    out.job = job;
    return out;
}

SendJobFile readSendJobFile(const QString& path, const QDate& today) {
    SendJobFile out;
    // Read with a limit rather than by size: a script may hand over a pipe (<(...)), whose
    // size is unknown, and a device such as /dev/zero never ends.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return out;
    }
    const QByteArray bytes = file.read(kMaxSendJobFileBytes + 1);
    if (bytes.size() > kMaxSendJobFileBytes) {
        out.error = QStringLiteral("%1 is larger than %2 MB; it is not a job file")
                        .arg(path)
                        .arg(kMaxSendJobFileBytes >> 20);
        return out;
    }
    if (file.error() != QFileDevice::NoError) {
        out.error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return out;
    }
    out = parseSendJobFile(bytes, today);
    if (!out.job)
        out.error = path + QStringLiteral(": ") + out.error;
    return out;
}

QString catalogueChoiceProblem(const compose::JobSnapshot& job,
                               const startup::CatalogueLists& lists) {
    for (const compose::FileRow& row : job.files) {
        const struct {
            const QString& value;
            const QStringList& offered;
            QString what;
        } choices[] = {
            {row.color, lists.colors, QStringLiteral("Die Farbe")},
            {row.step1, lists.work1, QStringLiteral("Die Verarbeitung 1")},
            {row.step2, lists.work2, QStringLiteral("Die Verarbeitung 2")},
            {row.step3, lists.work3, QStringLiteral("Die Verarbeitung 3")},
        };
        for (const auto& c : choices) {
            if (!c.value.isEmpty() && !c.offered.contains(c.value))
                return QStringLiteral("%1 \"%2\" der Datei %3 steht nicht im Katalog der "
                                      "Druckerei (angeboten: %4).")
                    .arg(c.what, visible(c.value), row.fullPath,
                         c.offered.join(QStringLiteral(", ")));
        }
    }
    return {};
}

} // namespace kestro::transfer
