#include "app/CommandLine.h"
#include "app/Startup.h"

#include <QApplication>
#include <QDir>
#include <QSystemTrayIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Read before start-up moves into the profile root: a relative FILE names the caller's file.
    const CommandLine::Request request =
        CommandLine::parse(QCoreApplication::arguments(), QDir::currentPath());
    if (request.action == CommandLine::Request::Invalid) {
        std::fprintf(stderr, "qlumar_vpn: %s\nUsage: qlumar_vpn [--import FILE | FILE]\n",
                     qPrintable(request.error));
        return 2;
    }
    return Startup::run(app, QSystemTrayIcon::isSystemTrayAvailable(), request.importPath);
}
