// Times the full reload of the connection list and the tray's Connect submenu from disk at
// growing numbers of profiles. Goal: 10,000 profiles in under a second, with the time per
// profile staying flat (within 1.3x) from 100 to 10,000.

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"
#include "profiles/ProfileSave.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info");
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    Prompt::setTestMode(true);
    if (!Startup::enterProfileRoot(nullptr)) {
        std::fprintf(stderr, "cannot enter the profile root\n");
        return 1;
    }
    const QString root = QDir::currentPath();

    MainWindow window;
    auto* list = window.findChild<QListWidget*>(QStringLiteral("vpnList"));

    // Sizes may be given on the command line, e.g. to profile one of them.
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {100, 1000, 10000};

    // Wall time is what the user waits; CPU time of this thread is steadier on a shared machine.
    // The tray's Connect submenu is filled when it first opens after a reload: timed on its own.
    std::printf("%8s %12s %16s %12s %16s %15s\n", "profiles", "wall ms", "wall us/profile", "cpu ms",
                "cpu us/profile", "submenu open ms");
    for (int count : sizes) {
        if (!Bench::seedProfiles(root, count))
            return 1;
        std::vector<double> runs;
        std::vector<double> cpuRuns;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            const double cpuStart = Bench::threadCpuMs();
            timer.start();
            window.loadVpnList();
            runs.push_back(timer.nsecsElapsed() / 1e6);
            cpuRuns.push_back(Bench::threadCpuMs() - cpuStart);
            // The old entry actions go at the next event loop turn, as in the running program.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        auto* menu = window.findChild<QMenu*>(QStringLiteral("trayConnectMenu"));
        QElapsedTimer opening;
        opening.start();
        menu->popup(QPoint(0, 0));
        menu->hide();
        const double openMs = opening.nsecsElapsed() / 1e6;
        if (list->count() != count || menu->actions().size() != count) {
            std::fprintf(stderr, "expected %d entries, list has %d, menu %d\n", count, list->count(),
                         int(menu->actions().size()));
            return 1;
        }
        std::sort(runs.begin(), runs.end());
        std::sort(cpuRuns.begin(), cpuRuns.end());
        const double median = runs[runs.size() / 2];
        const double cpuMedian = cpuRuns[cpuRuns.size() / 2];
        std::printf("%8d %12.1f %16.1f %12.1f %16.1f %15.1f\n", count, median, median * 1000.0 / count,
                    cpuMedian, cpuMedian * 1000.0 / count, openMs);
    }
    return 0;
}
