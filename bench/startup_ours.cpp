// The manager's own start-up, ended at its first paint (bench/startup.sh). The same as the
// program's main() but for the tray check, which off-screen has no tray to find.
//   startup_ours                 starts as the program does, in $HOME/.qlumar_velkoro_client
//   startup_ours --seed DIR N    writes N profiles into DIR as the save writes them, and exits

#include "FirstPaint.h"

#include "app/Startup.h"
#include "profiles/ProfileSave.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

int seed(const QString& root, int count)
{
    QDir dir(root);
    for (int i = 0; i < count; ++i) {
        const QString name = QString::number(i, 16).rightJustified(4, QLatin1Char('0'));
        if (!dir.mkpath(name)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(dir.filePath(name)));
            return 1;
        }
        ProfileFields fields;
        fields.name = QStringLiteral("Connection %1").arg(i);
        fields.server = QStringLiteral("vpn%1.example.net:1194").arg(i);
        fields.keyField = QStringLiteral("token key %1").arg(i);
        QFile conf(dir.filePath(name + QLatin1String("/conf")));
        if (!conf.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(conf.fileName()));
            return 1;
        }
        conf.write(ProfileSave::headerText(ProfileKind::CertificateAndKey, fields));
        conf.write(ProfileSave::templateMarker);
        conf.write("client\ndev tun\nproto udp\nnobind\npersist-key\nverb 3\n");
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--seed")
        return seed(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    return Startup::run(app, true);
}
