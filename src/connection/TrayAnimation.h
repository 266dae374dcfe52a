#pragma once

#include <QString>

// The three states the tray icon shows. Declared at global scope because it travels as the
// argument of MainWindow::setTrayIcon.
enum VpnTrayIcon { TrayDisconnected = 0, TrayConnecting = 1, TrayConnected = 2 };

namespace TrayAnimation {

constexpr int tickMilliseconds = 200;
constexpr int trayFrameCount = 4;
constexpr int labelFrameCount = 12; // six pictures, each held for two ticks

// Resource paths of the still images of a state; the connecting state starts at its first frame.
QString trayImage(VpnTrayIcon state);
QString pictureImage(VpnTrayIcon state);

// The name of the state's icon in the icon theme (hicolor/*/status): one for the whole connecting
// animation, whose frames differ only in pixels.
QString trayIconName(VpnTrayIcon state);

// Frame pictures of the connecting animation. pictureFrameImage() is empty for odd frames: the
// window picture changes only on every other tick.
QString trayFrameImage(int trayFrame);
QString pictureFrameImage(int labelFrame);

} // namespace TrayAnimation
