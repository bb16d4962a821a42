#pragma once

#include "common/prompter.h"

namespace kestro::service {

// The service's message boxes while its window is on screen: plain boxes with an OK
// button (Yes/No for questions) and the program's title.
class BoxPrompter : public Prompter {
public:
    void message(const QString& text, Icon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override;
    QString chooseOpenFile(const QString& filter, const QString& initialFolder) override;
};

} // namespace kestro::service
