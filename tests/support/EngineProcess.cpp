#include "EngineProcess.h"

#include "TestSupport.h"

#include <QtTest>

#include <algorithm>

void applyEnv(QProcessEnvironment* env, const QStringList& changes)
{
    for (const QString& change : changes) {
        const qsizetype equals = change.indexOf('=');
        const QString name = change.left(equals);
        const QString value = change.mid(equals + 1);
        if (value.isEmpty())
            env->remove(name);
        else
            env->insert(name, value);
    }
}

QProcessEnvironment engineEnvironment(const QStringList& changes)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys())
        if (name.startsWith("QLUMAR_") || name == "SOFTHSM2_CONF")
            env.remove(name);
    // The simulator unless a case picks a backend itself ("QLUMAR_ENGINE=" for the engine's default).
    const bool picksBackend = std::any_of(changes.begin(), changes.end(), [](const QString& change) {
        return change.startsWith("QLUMAR_ENGINE=") || change.startsWith("QLUMAR_OPENVPN=");
    });
    if (!picksBackend)
        env.insert("QLUMAR_ENGINE", "simulator");
    applyEnv(&env, changes);
    return env;
}

void startEngine(QProcess* engine, const QString& dir, const QStringList& args,
                 const QProcessEnvironment& env, int timeoutMs)
{
    engine->setProcessChannelMode(QProcess::MergedChannels);
    engine->setWorkingDirectory(dir);
    engine->setProcessEnvironment(env);
    engine->start(builtProgram(QStringLiteral("qlumar_openvpn")), args);
    QVERIFY2(engine->waitForStarted(timeoutMs), qPrintable(engine->errorString()));
}

EngineRun runEngineToEnd(const QString& dir, const QStringList& args, const QProcessEnvironment& env,
                         int timeoutMs)
{
    QProcess engine;
    startEngine(&engine, dir, args, env, timeoutMs);
    EngineRun run;
    if (!engine.waitForFinished(timeoutMs)) {
        engine.kill();
        engine.waitForFinished(timeoutMs);
        qWarning("engine did not finish:\n%s", engine.readAll().constData());
        return run;
    }
    run.status = engine.exitStatus();
    run.code = engine.exitCode();
    run.output = engine.readAll();
    return run;
}
