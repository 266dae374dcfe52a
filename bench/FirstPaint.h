#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

// Ends a start-up benchmark right after the first paint of a top-level window: the first Paint
// event is let through, and the process exits at the next event-loop turn, before anything else
// runs. Prints the peak RSS on standard error as "peak-rss-kb N".
class FirstPaint : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            m_seen = true;
            QTimer::singleShot(0, [] { exitNow(); });
        }
        return false;
    }

    static void exitNow()
    {
        long peakKb = 0;
#ifdef Q_OS_UNIX
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        peakKb = usage.ru_maxrss;
#endif
        std::fprintf(stderr, "peak-rss-kb %ld\n", peakKb);
        std::fflush(stderr);
        std::_Exit(0);
    }

private:
    bool m_seen = false;
};
