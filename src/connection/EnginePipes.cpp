#include "EnginePipes.h"

#include <QSocketNotifier>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
// A read takes what the pipe holds, but never all of a writer that keeps it full.
constexpr qsizetype readChunk = 64 * 1024;
constexpr qsizetype mostPerRead = 1024 * 1024;
// More than this in one batch and the next is not waited for; a pipe holds 64 KiB.
constexpr qsizetype batchedReadMost = 16 * 1024;
} // namespace

EnginePipes::EnginePipes(QProcess* process, QObject* parent) : QObject(parent), m_process(process)
{
    // Without pipes of its own the streams are QProcess's, which read each write as it comes.
    connect(m_process, &QProcess::readyReadStandardOutput, this,
            [this] { Q_EMIT readable(QProcess::StandardOutput); });
    connect(m_process, &QProcess::readyReadStandardError, this,
            [this] { Q_EMIT readable(QProcess::StandardError); });
    m_batch.setSingleShot(true);
    connect(&m_batch, &QTimer::timeout, this, &EnginePipes::batchDue);
}

EnginePipes::~EnginePipes()
{
    close();
}

void EnginePipes::prepare()
{
    close();
    m_own = false;
#ifdef Q_OS_LINUX
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    // A manager started with a standard stream closed could be handed it as a pipe end, which
    // the child's dup2 would then leave close-on-exec: QProcess's channels do instead.
    if (::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0 &&
        std::min({out[0], out[1], err[0], err[1]}) > STDERR_FILENO) {
        // Only the manager's end waits for nothing: the engine's writes block as on any pipe.
        for (int fd : {out[0], err[0]})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        m_readFd[QProcess::StandardOutput] = out[0];
        m_readFd[QProcess::StandardError] = err[0];
        m_writeFd[QProcess::StandardOutput] = out[1];
        m_writeFd[QProcess::StandardError] = err[1];
        m_own = true;
    } else {
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    if (m_own) {
        const int outFd = out[1];
        const int errFd = err[1];
        m_process->setProcessChannelMode(QProcess::ForwardedChannels);
        // In the child, between fork and exec: dup2 is all it may do. The copies it makes lose
        // close-on-exec, so only the engine and what it starts write to these pipes.
        m_process->setChildProcessModifier([outFd, errFd] {
            ::dup2(outFd, STDOUT_FILENO);
            ::dup2(errFd, STDERR_FILENO);
        });
        return;
    }
#endif
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
#ifdef Q_OS_UNIX
    m_process->setChildProcessModifier({});
#endif
}

void EnginePipes::started()
{
#ifdef Q_OS_LINUX
    if (!m_own)
        return;
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        if (m_writeFd[channel] >= 0) {
            ::close(m_writeFd[channel]);
            m_writeFd[channel] = -1;
        }
        if (m_readFd[channel] < 0 || m_notifier[channel])
            continue;
        auto* notifier = new QSocketNotifier(m_readFd[channel], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, channel] { activated(channel); });
        notifier->setEnabled(true);
        m_notifier[channel] = notifier;
    }
#endif
}

QByteArray EnginePipes::read(QProcess::ProcessChannel channel)
{
    if (!m_own) {
        m_process->setReadChannel(channel);
        return m_process->bytesAvailable() > 0 ? m_process->readAll() : QByteArray();
    }
    QByteArray bytes;
#ifdef Q_OS_LINUX
    const int fd = m_readFd[channel];
    while (fd >= 0 && bytes.size() < mostPerRead) {
        const qsizetype before = bytes.size();
        bytes.resize(before + readChunk);
        const ssize_t got = ::read(fd, bytes.data() + before, size_t(readChunk));
        bytes.resize(before + qMax<qsizetype>(got, 0));
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0) {
            // Every writer is gone; a notifier left on would fire for ever.
            dropNotifier(channel);
            break;
        }
        // Less than asked for: the pipe is empty (EAGAIN without error or data ends it too).
        if (got < readChunk)
            break;
    }
#endif
    m_lastRead[channel] += bytes.size();
    return bytes;
}

void EnginePipes::setBatchInterval(int milliseconds)
{
    m_batchMs = qMax(0, milliseconds);
    if (m_batchMs == 0 && m_batch.isActive()) {
        m_batch.stop();
        batchDue();
    }
}

void EnginePipes::activated(QProcess::ProcessChannel channel)
{
    m_lastRead[channel] = 0;
    Q_EMIT readable(channel);
    // A writer that nearly fills the pipe between two batches would soon have to wait for the
    // manager, and OpenVPN waiting on its log holds up the tunnel: its output is read at once,
    // a pipe's worth per wake-up, which costs little per line.
    if (m_batchMs > 0 && m_notifier[channel] && m_lastRead[channel] < batchedReadMost) {
        // What comes next waits in the pipe until the batch is due.
        m_notifier[channel]->setEnabled(false);
        if (!m_batch.isActive())
            m_batch.start(m_batchMs);
    }
}

void EnginePipes::batchDue()
{
    // A notifier that finds output waiting fires in this same turn of the event loop.
    for (QSocketNotifier* notifier : m_notifier) {
        if (notifier)
            notifier->setEnabled(true);
    }
}

void EnginePipes::dropNotifier(QProcess::ProcessChannel channel)
{
    if (!m_notifier[channel])
        return;
    // Its own signal may be on the stack.
    m_notifier[channel]->setEnabled(false);
    m_notifier[channel]->deleteLater();
    m_notifier[channel] = nullptr;
}

void EnginePipes::close()
{
    m_batch.stop();
#ifdef Q_OS_LINUX
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        dropNotifier(channel);
        for (int* fd : {&m_readFd[channel], &m_writeFd[channel]}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
#endif
}
