// The manager's own start-up, ended at its first paint (bench/startup.sh). The same as the
// program's main() but for the tray check, which off-screen has no tray to find.
//   startup_ours                 starts as the program does, in $HOME/.qlumar_velkoro_client
//   startup_ours --seed DIR N    writes N profiles into DIR as the save writes them, and exits

#include "BenchSupport.h"
#include "FirstPaint.h"

#include "app/Startup.h"
#include "profiles/ProfileSave.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--seed")
        return Bench::seedProfiles(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt()) ? 0 : 1;
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    return Startup::run(app, true);
}
