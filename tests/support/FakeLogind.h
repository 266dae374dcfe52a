#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QStringList>

// logind as far as the manager uses it: Inhibit hands out the write end of a fresh pipe, so a
// test sees through the read end when every holder has closed it, and PrepareForSleep is sent
// under logind's own name.
class FakeLogind : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    // Registers under logind's name on `bus`, which it disconnects when it goes.
    explicit FakeLogind(const QDBusConnection& bus);
    ~FakeLogind() override;

    bool start();
    bool prepareForSleep(bool start);
    // True while some process still holds the write end of the pipe whose read end is `fd`.
    static bool writeEndOpen(int fd);

    QList<QStringList> calls;
    QList<int> readEnds;
    bool refuse = false;

public Q_SLOTS:
    // logind's own method name, which the bus calls by.
    // NOLINTNEXTLINE(readability-identifier-naming)
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode);

private:
    QDBusConnection m_bus;
};
