#pragma once

#include "common/prompter.h"

namespace kestro::service {

// The service's message boxes while no window is shown: there is nobody to click them,
// so each message goes to the event log (syslog) and to standard error. Questions
// answer No; no file is ever chosen.
class LogPrompter : public Prompter {
public:
    void message(const QString& text, Icon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override;
    QString chooseOpenFile(const QString& filter, const QString& initialFolder) override;
};

} // namespace kestro::service
