#pragma once

#include "client/compose/jobsnapshot.h"

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
// would), but every value present must have the right type.
struct SendJobFile {
    std::optional<compose::JobSnapshot> job;
    QString error; // English, for the script's author, when the file is malformed
};

SendJobFile parseSendJobFile(const QByteArray& json, const QDate& today);

} // namespace kestro::transfer
