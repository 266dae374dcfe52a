#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace Autostart {

QString filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/autostart/qlumar_vpn.desktop");
}

QByteArray entryContents()
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=qLumar Velkoro\n"
           "Comment=Connect to your VPN from the system tray\n"
           "Comment[pl]=\xc5\x81\xc4\x85\x63z si\xc4\x99 z sieci\xc4\x85 VPN z zasobnika systemowego\n"
           "Exec=qlumar_vpn --minimized\n"
           "Icon=qlumar-velkoro\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool isEnabled()
{
    const QString path = filePath();
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contents = '\n' + file.read(64 * 1024);
    for (const QByteArray& line : contents.split('\n')) {
        const QByteArray setting = line.trimmed();
        if (setting == "Hidden=true" || setting == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

bool setEnabled(bool enabled, QString* error)
{
    const QString path = filePath();
    if (!enabled) {
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            return true;
        QFile file(path);
        if (file.remove())
            return true;
        if (error)
            *error = file.errorString();
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryContents()) != entryContents().size() ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Autostart
