#pragma once

#include "app/CommandLine.h"

#include <QString>

class QApplication;
class DesktopNotifier;
class SingleInstance;
class TrayHost;

namespace Startup {

constexpr const char* profileRootName = ".qlumar_velkoro_client";

// Makes ~/.qlumar_velkoro_client the current directory, creating it when missing. On failure the
// current directory is left as it was and *failedPath names the directory that could not be used.
bool enterProfileRoot(QString* failedPath);

struct Options
{
    bool trayAvailable = true; // a tray can show the icon at start
    CommandLine::Request request;
    SingleInstance* instance = nullptr;  // the primary's guard, whose requests the window answers
    TrayHost* trayHost = nullptr;        // tells when a tray comes or goes while the program runs
    bool confirmWithToolkit = false;     // a host seen counts only if QSystemTrayIcon can use it
    int trayWaitMilliseconds = 30000;    // how long --minimized waits for a tray before showing
    DesktopNotifier* notifier = nullptr; // messages, unless the tray is an XEmbed one
};

// Everything after the application object exists: the profile root, the language, the main
// window (in the tray, or as a plain window without one) and the event loop, and "lang" written
// back at the end. Returns the process exit code.
int run(QApplication& app, bool trayAvailable);
int run(QApplication& app, const Options& options);

// The whole program after the application object: the command line (--help, usage errors), one
// manager per user (a second start hands its request over and ends), the tray check, then run().
int start(QApplication& app);

// Prints the usage for --help (the application object may be a QCoreApplication) and returns 0.
int printHelp();

} // namespace Startup
