#include "TrayAnimation.h"

namespace TrayAnimation {

QString trayImage(VpnTrayIcon state)
{
    switch (state) {
    case TrayDisconnected:
        return QStringLiteral(":img/vpn_dis.png");
    case TrayConnecting:
        return trayFrameImage(0);
    case TrayConnected:
        return QStringLiteral(":img/vpn_con.png");
    }
    return QString();
}

QString trayIconName(VpnTrayIcon state)
{
    switch (state) {
    case TrayDisconnected:
        return QStringLiteral("qlumar-velkoro-disconnected");
    case TrayConnecting:
        return QStringLiteral("qlumar-velkoro-connecting");
    case TrayConnected:
        return QStringLiteral("qlumar-velkoro-connected");
    }
    return QString();
}

QString pictureImage(VpnTrayIcon state)
{
    switch (state) {
    case TrayDisconnected:
    case TrayConnecting:
        return QStringLiteral(":img/connect_01.png");
    case TrayConnected:
        return QStringLiteral(":img/connect_07.png");
    }
    return QString();
}

QString trayFrameImage(int trayFrame)
{
    if (trayFrame < 0 || trayFrame >= trayFrameCount)
        return QString();
    return QStringLiteral(":img/vpn_set_%1.png").arg(trayFrame + 1, 2, 10, QLatin1Char('0'));
}

QString pictureFrameImage(int labelFrame)
{
    if (labelFrame < 0 || labelFrame >= labelFrameCount || labelFrame % 2 != 0)
        return QString();
    return QStringLiteral(":img/connect_%1.png").arg(labelFrame / 2 + 1, 2, 10, QLatin1Char('0'));
}

} // namespace TrayAnimation
