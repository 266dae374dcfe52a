#include "TestSupport.h"

#include "app/Startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

ScratchHome::ScratchHome() : m_oldHome(qgetenv("HOME")), m_oldCurrent(QDir::currentPath())
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

ScratchHome::~ScratchHome()
{
    QDir::setCurrent(m_oldCurrent);
    qputenv("HOME", m_oldHome);
}

QString ScratchHome::rootPath() const
{
    return m_dir.path() + QLatin1Char('/') + QLatin1String(Startup::profileRootName);
}

bool ScratchHome::enterRoot()
{
    return Startup::enterProfileRoot(nullptr);
}

bool ScratchHome::writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ScratchHome::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString builtProgram(const QString& name)
{
#ifdef Q_OS_WIN
    return QStringLiteral(QLUMAR_BIN_DIR "/") + name + QStringLiteral(".exe");
#else
    return QStringLiteral(QLUMAR_BIN_DIR "/") + name;
#endif
}

void removeInstalledTranslators()
{
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}
