#include "service/logprompter.h"

#include "service/servicelog.h"

#include <cstdio>

namespace kestro::service {

void LogPrompter::message(const QString& text, Icon, const QString&) {
    writeEventLog(EventKind::Failure, text);
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

bool LogPrompter::askYesNo(const QString& text, Icon icon, const QString& title) {
    message(text, icon, title);
    return false;
}

QString LogPrompter::chooseOpenFile(const QString&, const QString&) {
    return {};
}

} // namespace kestro::service
