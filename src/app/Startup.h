#pragma once

#include <QString>

class QApplication;

namespace Startup {

constexpr const char* profileRootName = ".qlumar_velkoro_client";

// Makes ~/.qlumar_velkoro_client the current directory, creating it when missing. On failure the
// current directory is left as it was and *failedPath names the directory that could not be used.
bool enterProfileRoot(QString* failedPath);

// Everything after the application object exists: the tray check, the profile root, the
// language, the main window and the event loop, and "lang" written back at the end. A non-empty
// importPath (absolute) is imported once the event loop runs. Returns the process exit code.
int run(QApplication& app, bool trayAvailable, const QString& importPath = QString());

} // namespace Startup
