#include "client/transfer/sendjobfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestro::transfer {

namespace {

// A text member: absent gives `fallback`; a number is taken as its decimal text (copies
// are often written as 3); anything else is an error.
std::optional<QString> textMember(const QJsonObject& object, const QString& key,
                                  const QString& fallback, QString& error, const QString& where) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined() || v.isNull())
        return fallback;
    if (v.isString())
        return v.toString();
    if (v.isDouble() && v.toDouble() == double(qint64(v.toDouble())))
        return QString::number(qint64(v.toDouble()));
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
    row.fullPath = QFileInfo(*path).absoluteFilePath();
    row.fileName = QFileInfo(*path).fileName();
    const auto copies = textMember(o, QStringLiteral("copies"), {}, error, where);
    const auto color = textMember(o, QStringLiteral("color"), {}, error, where);
    if (!copies || !color)
        return std::nullopt;
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

} // namespace kestro::transfer
