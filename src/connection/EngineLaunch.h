#pragma once

#include <QString>
#include <QStringList>

// How the manager starts the VPN engine: which program, with which arguments, in which directory.
// The engine knows nothing else about the manager, so these must match it byte for byte.
namespace EngineLaunch {

// Glued to the PIN, as one argument, for the engine's token key engine.
inline constexpr char tokenPinPrefix[] = "dudidudovi:user_pin:";

// How long connecting blocks the event loop waiting for the engine to come up.
inline constexpr int defaultStartTimeoutMs = 30000;

// <applicationDir>/../bin/qlumar_openvpn (".exe" on Windows), unless QLUMAR_ENGINE_PATH names
// another program.
QString programPath(const QString& applicationDir);

// "--config conf --dev tun --float --pull --tls-client", then "--keypass SECRET" for a PKCS#12
// profile or "--engkey --engine dudidudovi:user_pin:SECRET" for a token-key profile. The secret is
// passed as typed, empty included.
QStringList arguments(bool pkcs12, const QString& secret);

// The profile's own directory, where its "conf" is.
QString workingDirectory(const QString& rootPath, const QString& dirName);

int startTimeoutMs();
// Tests shorten the wait to provoke an engine that comes up only after the manager gave up.
void setStartTimeoutMs(int milliseconds);

} // namespace EngineLaunch
