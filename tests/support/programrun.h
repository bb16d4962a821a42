#pragma once

#include <QProcess>

namespace kestro::test {

// What a script run leaves: the exit code (-1: crashed or not ended in time) and the output.
struct ProcessRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program to its end with `extra` added to this process's environment and, as under
// cron, an empty standard input.
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
