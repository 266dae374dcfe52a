#pragma once

#include "PrivateBus.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real Secret Service for the test process: gnome-keyring-daemon, unlocked with a throw-away
// password, on a session bus and in a home of the test's own. useBus() must come before anything
// in the process opens the session bus (the keychain's own connection is made once and kept);
// start() may follow later, so a test can first see the bus without a keyring.
class TestKeyring
{
public:
    ~TestKeyring();

    // Points the process's session bus and XDG directories at the private ones.
    bool useBus(QString* error);
    bool start(QString* error);
    void stop();
    // Where the keyring and the XDG directories keep their files.
    QString home() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
    PrivateBus m_bus;
    QProcess m_daemon;
};
