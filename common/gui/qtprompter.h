#pragma once

#include "common/prompter.h"

class QWidget;

namespace kestro::gui {

// Message boxes and the open-file dialog as the user sees them, for both programs.
// Messages without a title carry the program's title ("KestroClient" for the client).
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QString defaultTitle, QWidget* parent = nullptr)
        : defaultTitle_(std::move(defaultTitle)), parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void message(const QString& text, Icon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override;
    bool askChoice(const QString& text, Icon icon, const QString& accept, const QString& reject,
                   const QString& title = {}) override;
    QString chooseOpenFile(const QString& filter, const QString& initialFolder) override;

    // "Datenbank-Datei (*.mdb)|*.mdb;" → "Datenbank-Datei (*.mdb)"
    static QString qtFilter(const QString& filter);
    // A single CR stood for a line break.
    static QString displayText(const QString& text);

private:
    QString titleOr(const QString& title) const { return title.isEmpty() ? defaultTitle_ : title; }

    QString defaultTitle_;
    QWidget* parent_;
};

} // namespace kestro::gui
