#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace kestro::test {

// What a program run as a script run leaves: its exit code (-1 when it crashed or did not
// end in time) and its output. Standard input is empty, as under cron.
struct ProcessRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program to its end, with `extra` added to this process's environment.
inline ProcessRun runProgram(const QString& program, const QStringList& args,
                             const QProcessEnvironment& extra = {}, int timeoutMs = 180000) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace kestro::test
