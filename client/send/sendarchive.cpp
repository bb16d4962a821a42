#include "client/send/sendarchive.h"

#include "client/zip/zipentrynames.h"

namespace kestro::transfer {

QString archiveCompanyPart(const QString& company) {
    QString out = company;
    for (QChar& c : out)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    return out;
}

QString archiveName(const QString& company, const QDateTime& sendTime) {
    return archiveCompanyPart(company) + QLatin1Char('-') +
           sendTime.date().toString(QStringLiteral("ddMMyy")) + QLatin1Char('-') +
           sendTime.time().toString(QStringLiteral("HHmmss")) + QStringLiteral(".zip");
}

compose::JobSnapshot withArchiveEntryNames(const compose::JobSnapshot& job) {
    QStringList paths;
    for (const compose::FileRow& row : job.files)
        paths << row.fullPath;
    const QStringList names = zip::plannedEntryNames(paths, {kJobSheetName});
    compose::JobSnapshot out = job;
    for (qsizetype i = 0; i < out.files.size(); ++i)
        out.files[i].fileName = names.at(i);
    return out;
}

} // namespace kestro::transfer
