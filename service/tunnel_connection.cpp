#include "tunnel_connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString userName(uid_t uid)
{
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found) {
        return {};
    }
    return QString::fromLocal8Bit(found->pw_name);
}

bool userExists(const QString& name)
{
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    return ::getpwnam_r(name.toLocal8Bit().constData(), &entry, buffer, sizeof buffer, &found) == 0 && found;
}

bool groupExists(const QString& name)
{
    char buffer[4096];
    group entry{};
    group* found = nullptr;
    return ::getgrnam_r(name.toLocal8Bit().constData(), &entry, buffer, sizeof buffer, &found) == 0 && found;
}

} // namespace

TunnelConnection::TunnelConnection(const ServiceSettings& settings, const QString& id, uint uid,
                                   const QString& owner, std::unique_ptr<LinkSetup> linkSetup,
                                   QObject* parent)
    : QObject(parent), m_settings(settings), m_id(id), m_uid(uid), m_owner(owner),
      m_dir(settings.runtimeDir + u'/' + id), m_linkSetup(std::move(linkSetup)),
      m_process(new QProcess(this)), m_readyTimer(new QTimer(this)), m_killTimer(new QTimer(this))
{
    m_readyTimer->setSingleShot(true);
    m_killTimer->setSingleShot(true);
    connect(m_readyTimer, &QTimer::timeout, this, [this] {
        if (!m_ready)
            stop();
    });
    connect(m_killTimer, &QTimer::timeout, m_process, &QProcess::kill);
    connect(m_process, &QProcess::finished, this, &TunnelConnection::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // Later, never from inside start(): whoever started the connection is listening by then.
        if (error == QProcess::FailedToStart) {
            QTimer::singleShot(0, this, [this] { onFinished(127, QProcess::NormalExit); });
        }
    });
}

TunnelConnection::~TunnelConnection()
{
    if (m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(m_settings.stopGraceMs);
    }
    cleanUp();
}

QString TunnelConnection::socketPath() const
{
    return m_dir + QStringLiteral("/management");
}

bool TunnelConnection::start(const QString& config, int outputFd, QString* error)
{
    const QString user = userName(m_uid);
    if (user.isEmpty()) {
        *error = QStringLiteral("user %1 has no name").arg(m_uid);
        return false;
    }
    if (!QFileInfo(m_settings.openvpn).isExecutable()) {
        *error =
            QStringLiteral("OpenVPN is not installed (%1 is missing); install it: apt-get install openvpn")
                .arg(m_settings.openvpn);
        return false;
    }
    if (!userExists(m_settings.user) || !groupExists(m_settings.group)) {
        *error = QStringLiteral("the system user or group '%1' for OpenVPN is missing; reinstall the package")
                     .arg(m_settings.user);
        return false;
    }
    // Root's alone except for the way through to the socket, which the user owns.
    const QByteArray dir = QFile::encodeName(m_dir);
    if (::mkdir(dir.constData(), 0711) != 0 || ::chmod(dir.constData(), 0711) != 0) {
        *error =
            QStringLiteral("cannot create %1: %2").arg(m_dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QString configPath = m_dir + QStringLiteral("/openvpn.conf");
    {
        const int fd =
            ::open(QFile::encodeName(configPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        QFile file;
        if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) ||
            file.write(config.toUtf8()) < 0 || !file.flush()) {
            if (fd >= 0 && !file.isOpen())
                ::close(fd);
            *error = QStringLiteral("cannot write %1").arg(configPath);
            cleanUp();
            return false;
        }
    }

    QStringList args{QStringLiteral("--config"), configPath};
    // After the configuration, so that nothing in it can change them.
    args << QStringLiteral("--user") << m_settings.user << QStringLiteral("--group") << m_settings.group
         << QStringLiteral("--script-security") << QStringLiteral("1") << QStringLiteral("--management")
         << socketPath() << QStringLiteral("unix") << QStringLiteral("--management-client-user") << user
         << QStringLiteral("--management-hold") << QStringLiteral("--management-query-passwords");
    QStringList extra;
    if (!m_linkSetup->prepare(m_dir, &extra, error)) {
        cleanUp();
        return false;
    }
    args << extra;

    m_outputFd = ::fcntl(outputFd, F_DUPFD_CLOEXEC, 3);
    if (m_outputFd < 0) {
        *error = QStringLiteral("cannot use the output descriptor: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        cleanUp();
        return false;
    }
    const int output = m_outputFd;
    m_process->setProgram(m_settings.openvpn);
    m_process->setArguments(args);
    m_process->setWorkingDirectory(m_dir);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    m_process->setProcessEnvironment(environment);
    m_process->setChildProcessModifier([output] {
        // OpenVPN writes its log straight to the user's engine.
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::umask(077);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });

    m_watcher = new QFileSystemWatcher({m_dir}, this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &TunnelConnection::checkSocket);
    m_readyTimer->start(m_settings.readyTimeoutMs);
    m_process->start();
    if (m_process->processId() > 0)
        m_linkSetup->started(m_process->processId());
    return true;
}

void TunnelConnection::checkSocket()
{
    if (m_ready || m_done)
        return;
    const QByteArray path = QFile::encodeName(socketPath());
    struct stat info
    {
    };
    if (::lstat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return;
    // OpenVPN made it as root; only the user who asked for the tunnel may connect.
    if (::lchown(path.constData(), m_uid, static_cast<gid_t>(-1)) != 0 ||
        ::chmod(path.constData(), 0600) != 0) {
        stop();
        return;
    }
    // OpenVPN has read its configuration by now and never reads it again (it gets no SIGHUP): the
    // inline keys and certificates need not stay on disk.
    QFile::remove(m_dir + QStringLiteral("/openvpn.conf"));
    m_ready = true;
    m_readyTimer->stop();
    delete m_watcher;
    m_watcher = nullptr;
    emit ready();
}

void TunnelConnection::stop()
{
    if (m_process->state() == QProcess::NotRunning || m_killTimer->isActive())
        return;
    m_process->terminate();
    m_killTimer->start(m_settings.stopGraceMs);
}

void TunnelConnection::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (m_done)
        return;
    m_done = true;
    m_killTimer->stop();
    m_readyTimer->stop();
    cleanUp();
    emit finished(exitStatus == QProcess::CrashExit ? 128 + exitCode : exitCode);
}

void TunnelConnection::cleanUp()
{
    delete m_watcher;
    m_watcher = nullptr;
    if (m_linkSetup) {
        m_linkSetup->revert();
        m_linkSetup.reset();
    }
    if (m_outputFd >= 0) {
        ::close(m_outputFd);
        m_outputFd = -1;
    }
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}
