#pragma once

// What the benchmark programs share: processor time and memory of this process, and profile
// roots filled as the save writes them.

#include "profiles/ProfileSave.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <ctime>

namespace Bench {

// Wall-clock gaps on a busy machine include the time the scheduler gave to other processes; the
// thread's own processor time does not.
inline double threadCpuMs()
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
#else
    return 0.0; // not measured on this platform
#endif
}

// A "Vm…" line of /proc/self/status in KiB, -1 where there is none.
inline qint64 statusKiB(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

inline qint64 residentKiB()
{
    return statusKiB("VmRSS");
}

// Adds profiles "0000", "0001", … until the root holds `count`, each written as the save writes a
// certificate-and-token profile; those already there are kept. False when one cannot be written.
inline bool seedProfiles(const QString& root, int count)
{
    QDir dir(root);
    for (int i = 0; i < count; ++i) {
        const QString name = QString::number(i, 16).rightJustified(4, QLatin1Char('0'));
        if (dir.exists(name))
            continue;
        if (!dir.mkpath(name)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(dir.filePath(name)));
            return false;
        }
        ProfileFields fields;
        fields.name = QStringLiteral("Connection %1").arg(i);
        fields.server = QStringLiteral("vpn%1.example.net:1194").arg(i);
        fields.keyField = QStringLiteral("token key %1").arg(i);
        QFile conf(dir.filePath(name + QLatin1String("/conf")));
        if (!conf.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(conf.fileName()));
            return false;
        }
        conf.write(ProfileSave::headerText(ProfileKind::CertificateAndKey, fields));
        conf.write(ProfileSave::templateMarker);
        conf.write("client\ndev tun\nproto udp\nnobind\npersist-key\nverb 3\n");
    }
    return true;
}

} // namespace Bench
