#pragma once

#include <QByteArray>
#include <QString>

// The XDG autostart entry that starts the manager hidden in the tray at login:
// $XDG_CONFIG_HOME/autostart/qlumar_vpn.desktop (~/.config when XDG_CONFIG_HOME is unset).
namespace Autostart {

QString filePath();

// The entry exists and the desktop does not treat it as switched off (Hidden=true, or
// X-GNOME-Autostart-enabled=false, as session settings write them).
bool isEnabled();

// Writes the entry whole (a reader never sees half of it) or removes it. False with the reason
// in *error when the file system refuses.
bool setEnabled(bool enabled, QString* error);

QByteArray entryContents();

} // namespace Autostart
