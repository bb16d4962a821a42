#pragma once

#include "client/compose/jobsnapshot.h"
#include "client/startup/catalogue.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>

namespace kestro::transfer {

// A job as a script describes it for the command-line sender:
//   {"project": "4 | Neubau", "delivery": "1 | Baustelle Nord", "date": "2026-12-07",
//    "time": "10 : 00", "remarks": "...",
//    "files": [{"path": "/abs/plan.pdf", "copies": "3", "color": "farbig",
//               "steps": ["heften", "keine", "keine"]}]}
// project, delivery, time and remarks may be left out; date defaults to `today`. A file's
// settings may be missing (the send then refuses the job as incomplete, as the window
// would), but every value present must have the right type, copies must be one of the
// window's "1" to "100", and no path may hold a NUL.
struct SendJobFile {
    std::optional<compose::JobSnapshot> job;
    QString error; // English, for the script's author, when the file is malformed
};

// A job file is a few lines; anything larger is not one (and /dev/zero never ends).
inline constexpr qint64 kMaxSendJobFileBytes = 4 * 1024 * 1024;

SendJobFile parseSendJobFile(const QByteArray& json, const QDate& today);
// Reads at most kMaxSendJobFileBytes of the file at `path` and parses them; a file that is
// unreadable or larger is an error naming the file.
SendJobFile readSendJobFile(const QString& path, const QDate& today);

// What the window's lists would not have let the worker choose: a colour or processing
// step that the shop's catalogue does not offer. The German refusal names the file and the
// value; empty when every value is offered. Empty settings are left to the completeness
// check.
QString catalogueChoiceProblem(const compose::JobSnapshot& job,
                               const startup::CatalogueLists& lists);

} // namespace kestro::transfer
