#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, on a socket in a temporary directory, ended with the test
// (and with the test process, should that die first). Nothing on it but what the test puts there.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False with the reason in error() when no dbus-daemon can be started here.
    bool start();
    QString address() const { return m_address; }
    QString error() const { return m_error; }
    QString directory() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};
