#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Running the bundled engine directly, as the manager would, for the engine's own suites.

// QSKIP ends the calling function only, so a check that skips has to be a macro.
#define SKIP_UNLESS_EMPTY(reason)                                                                            \
    do {                                                                                                     \
        if (!(reason).isEmpty()) {                                                                           \
            QSKIP(qPrintable(reason));                                                                       \
        }                                                                                                    \
    } while (false)

struct EngineRun
{
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QByteArray output;
};

// Environment changes as "NAME=value"; "NAME=" removes the variable.
void applyEnv(QProcessEnvironment* env, const QStringList& changes);

// This process's environment without any engine or token setting of the caller's shell, so a
// developer's own QLUMAR_* variables cannot change what a test sees; then the given changes.
QProcessEnvironment engineEnvironment(const QStringList& changes);

// Starts the engine in dir with stdout and stderr merged; fails the calling test if it won't start.
void startEngine(QProcess* engine, const QString& dir, const QStringList& args,
                 const QProcessEnvironment& env, int timeoutMs);

// Runs the engine to its exit. An engine still running after timeoutMs is killed and the run
// comes back with code -1.
EngineRun runEngineToEnd(const QString& dir, const QStringList& args, const QProcessEnvironment& env,
                         int timeoutMs);
