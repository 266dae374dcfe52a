#include "TestSupport.h"

#include "app/Startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

ScratchHome::ScratchHome() : m_oldHome(qgetenv("HOME")), m_oldCurrent(QDir::currentPath())
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

ScratchHome::~ScratchHome()
{
    QDir::setCurrent(m_oldCurrent);
    qputenv("HOME", m_oldHome);
}

QString ScratchHome::rootPath() const
{
    return m_dir.path() + QLatin1Char('/') + QLatin1String(Startup::profileRootName);
}

bool ScratchHome::enterRoot()
{
    return Startup::enterProfileRoot(nullptr);
}

bool ScratchHome::writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ScratchHome::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString builtProgram(const QString& name)
{
#ifdef Q_OS_WIN
    return QStringLiteral(QLUMAR_BIN_DIR "/") + name + QStringLiteral(".exe");
#else
    return QStringLiteral(QLUMAR_BIN_DIR "/") + name;
#endif
}

SleepingEngine::SleepingEngine()
{
    const QString engine = m_dir.filePath(QStringLiteral("engine.sh"));
    m_valid = m_dir.isValid() && ScratchHome::writeFile(engine, "#!/bin/sh\nexec sleep 60\n") &&
              QFile::setPermissions(engine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(engine));
}

SleepingEngine::~SleepingEngine()
{
    qunsetenv("QLUMAR_ENGINE_PATH");
}

bool processGone(qint64 pid)
{
#ifdef Q_OS_UNIX
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype paren = line.lastIndexOf(')');
    return paren > 0 && line.mid(paren + 2, 1) == "Z";
#else
    Q_UNUSED(pid);
    return true;
#endif
}

void removeInstalledTranslators()
{
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FifoGuard::FifoGuard(const QString& path, int timeoutMs) : m_path(QFile::encodeName(path))
{
    m_valid = ::mkfifo(m_path.constData(), 0600) == 0;
    if (!m_valid)
        return;
    m_watch = std::thread([this, timeoutMs] {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_stop; }))
            return;
        // Opening for writing without blocking succeeds only while a reader has it open.
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_stop; })) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_released = true;
                ::close(fd);
            }
        }
    });
}

FifoGuard::~FifoGuard()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_watch.joinable())
        m_watch.join();
}
#endif
