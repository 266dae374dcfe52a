#include "Language.h"

#include "profiles/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

QString appLanguage;

namespace Language {

QString decodeLanguage(const QByteArray& bytes)
{
    return RegularFile::latin1UpToNul(bytes);
}

bool readLanguageFile(const QString& path)
{
    const auto bytes = RegularFile::read(path);
    if (!bytes)
        return false;
    appLanguage = decodeLanguage(*bytes);
    return true;
}

bool writeLanguageFile(const QString& path)
{
    // Opening a FIFO for writing waits for a reader that never comes, and a device is no place
    // for the setting either.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = appLanguage.toLatin1();
    return file.write(bytes) == bytes.size();
}

bool isPolish()
{
    return appLanguage == QLatin1String("pl");
}

void installTranslators(QCoreApplication& app)
{
    if (!isPolish())
        return;
    // Installed in this order, so on a clash the later catalogue wins over the toolkit's own.
    static const char* const catalogues[] = {
        ":translations/qt_pl.qm",
        ":qlumar_vpn_pl.qm",
        ":translations/misc_pl.qm",
        ":translations/netprotocols_pl.qm",
    };
    for (const char* path : catalogues) {
        auto* translator = new QTranslator(&app);
        // One that fails to load is installed all the same and simply translates nothing.
        if (!translator->load(QLatin1String(path)))
            qWarning("cannot load the translation catalogue %s", path);
        QCoreApplication::installTranslator(translator);
    }
}

} // namespace Language
