#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

// A throw-away home directory with HOME pointing at it, so no test touches the real profile root.
// The previous HOME and current directory come back when it goes out of scope.
class ScratchHome
{
public:
    ScratchHome();
    ~ScratchHome();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString rootPath() const; // <home>/.qlumar_velkoro_client

    // Creates the profile root and makes it the current directory, as start-up does.
    bool enterRoot();

    // Writes a file (creating parent directories) under the home directory.
    static bool writeFile(const QString& path, const QByteArray& bytes);
    static QByteArray readFile(const QString& path);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QString m_oldCurrent;
};

// Translators are process-wide and outlive a start-up run that installed them; tests that expect
// English texts call this first.
void removeInstalledTranslators();

// The path of a program built into bin/ of the build tree (".exe" added on Windows).
QString builtProgram(const QString& name);

// Dead and reaped, or at least dead (a zombie waiting for its parent to collect it).
bool processGone(qint64 pid);

// A stand-in engine that starts and stays up (a shell script sleeping a minute), named in
// QLUMAR_ENGINE_PATH for as long as the guard lives.
class SleepingEngine
{
public:
    SleepingEngine();
    ~SleepingEngine();
    SleepingEngine(const SleepingEngine&) = delete;
    SleepingEngine& operator=(const SleepingEngine&) = delete;

    bool isValid() const { return m_valid; }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

#ifdef Q_OS_UNIX
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A FIFO at path for as long as the guard lives. A read of it that blocks in open() would hang
// the test for ever; after timeoutMs the guard opens the FIFO for writing and closes it again,
// which lets such a reader go on (it reads nothing), and released() tells the test it happened.
class FifoGuard
{
public:
    explicit FifoGuard(const QString& path, int timeoutMs = 5000);
    ~FifoGuard();
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;

    bool isValid() const { return m_valid; }
    bool released() const { return m_released; }

private:
    QByteArray m_path;
    bool m_valid = false;
    std::atomic<bool> m_released{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_watch;
};
#endif
