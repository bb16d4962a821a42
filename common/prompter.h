#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace kestro {

// The one seam for message boxes and the open-file dialog. Logic asks through it; the
// program answers with real dialogs (client/ui), tests with a script, the command-line
// companion on the terminal. A line break inside a message is a single "\r", as the
// messages were written; the dialogs show it as a line break.
class Prompter {
public:
    enum class Icon { None, Critical, Exclamation, Information, Question };
    virtual ~Prompter() = default;
    // An OK box.
    virtual void message(const QString& text, Icon icon, const QString& title = {}) = 0;
    // A Yes/No box; true for Yes.
    virtual bool askYesNo(const QString& text, Icon icon, const QString& title = {}) = 0;
    // A box whose two buttons say what they do ("Zertifikat vertrauen", "Abbrechen"); true
    // for `accept`. Where no such box exists it is the Yes/No box.
    virtual bool askChoice(const QString& text, Icon icon, const QString& /*accept*/,
                           const QString& /*reject*/, const QString& title = {}) {
        return askYesNo(text, icon, title);
    }
    // An open-file dialog; the empty text when cancelled. `filter` is in the form
    // "Datenbank-Datei (*.mdb)|*.mdb;".
    virtual QString chooseOpenFile(const QString& filter, const QString& initialFolder) = 0;
};

// Answers from a script and records what was asked, for tests.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        enum class Kind { Message, Question, FileDialog } kind;
        QString text;
        Icon icon;
        QString title;
    };

    void message(const QString& text, Icon icon, const QString& title = {}) override {
        shown.push_back({Shown::Kind::Message, text, icon, title});
    }
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override {
        shown.push_back({Shown::Kind::Question, text, icon, title});
        if (answers.empty())
            return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    QString chooseOpenFile(const QString& filter, const QString& initialFolder) override {
        shown.push_back({Shown::Kind::FileDialog, filter, Icon::None, initialFolder});
        if (files.empty())
            return {};
        const QString f = files.front();
        files.pop_front();
        return f;
    }
    QStringList texts() const {
        QStringList out;
        for (const Shown& s : shown)
            out << s.text;
        return out;
    }

    std::deque<bool> answers;  // next Yes/No answers; No when exhausted
    std::deque<QString> files; // next file-dialog answers; cancel when exhausted
    std::vector<Shown> shown;
};

} // namespace kestro
