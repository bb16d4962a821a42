#pragma once

#include "client/compose/jobsnapshot.h"

#include <QDateTime>
#include <QString>

namespace kestro::transfer {

// The company name as it may stand in a file name: "/", "\" and control characters
// become "_", so that the archive always lands in the client data folder under one name
// and the shop's server accepts it.
QString archiveCompanyPart(const QString& company);

// Company + "-" + ddmmyy + "-" + hhmmss + ".zip", e.g. "Muster GmbH-071226-100503.zip".
QString archiveName(const QString& company, const QDateTime& sendTime);

// The job as it goes into the archive: every file row names its entry as the shop will
// find it, so two files called plan.pdf from two folders become "plan.pdf" and
// "plan (2).pdf", and the job sheet's file lines say which is which. The job sheet
// itself keeps its own name, so no file may take it.
compose::JobSnapshot withArchiveEntryNames(const compose::JobSnapshot& job);

// The name of the job sheet in the client data folder and in the archive.
inline const QString kJobSheetName = QStringLiteral("JobDaten.txt");

} // namespace kestro::transfer
