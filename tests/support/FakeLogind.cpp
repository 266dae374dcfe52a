#include "FakeLogind.h"

#include <QDBusMessage>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

FakeLogind::FakeLogind(const QDBusConnection& bus) : m_bus(bus) {}

FakeLogind::~FakeLogind()
{
    for (int fd : readEnds)
        ::close(fd);
    QDBusConnection::disconnectFromBus(m_bus.name());
}

bool FakeLogind::start()
{
    return m_bus.isConnected() && m_bus.registerObject(kLogin1Path, this, QDBusConnection::ExportAllSlots) &&
           m_bus.registerService(kLogin1);
}

bool FakeLogind::prepareForSleep(bool start)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(kLogin1Path, kManager, QStringLiteral("PrepareForSleep"));
    signal << start;
    return m_bus.send(signal);
}

bool FakeLogind::writeEndOpen(int fd)
{
    char byte = 0;
    return ::read(fd, &byte, 1) < 0 && errno == EAGAIN;
}

QDBusUnixFileDescriptor FakeLogind::Inhibit(const QString& what, const QString& who, const QString& why,
                                            const QString& mode)
{
    calls.append({what, who, why, mode});
    if (refuse) {
        sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                       QStringLiteral("Not allowed"));
        return QDBusUnixFileDescriptor();
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return QDBusUnixFileDescriptor();
    readEnds.append(fds[0]);
    QDBusUnixFileDescriptor writeEnd(fds[1]); // a duplicate
    ::close(fds[1]);
    return writeEnd;
}
