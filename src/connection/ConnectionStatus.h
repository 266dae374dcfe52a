#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QString>

// The connection's state in words, for the main window's status line and the tray's tooltip.
namespace ConnectionStatus {

struct Snapshot
{
    enum class Phase { Idle, Connecting, Connected, Failed };
    Phase phase = Phase::Idle;
    QString name;    // the profile's name
    QDateTime since; // Connected: when the tunnel came up
    QString address; // Connected: the tunnel address, when the engine told it
    bool hasBytes = false;
    quint64 bytesIn = 0;
    quint64 bytesOut = 0;
    QString failure; // Failed: failureMessage()
};

// "Disconnected", "Connecting to NAME…", "Connected to NAME since HH:MM · ADDRESS · ↓ IN ↑ OUT" (the
// address and the byte counts only when known), "Connection to NAME failed: REASON".
QString statusLine(const Snapshot& snapshot, const QLocale& locale = QLocale());

// Why a connection that never came up ended, for people: from the engine's failure code and text
// (engine/README.md), "crashed" for an engine that died, or the engine's last error line.
QString failureMessage(const QString& code, const QString& engineText);

// The last line of a piece of the engine's log that reads like an error, without its timestamp;
// empty when there is none. The engine's closing "Exiting due to fatal error" says nothing.
QString lastErrorLine(QStringView text);

} // namespace ConnectionStatus
