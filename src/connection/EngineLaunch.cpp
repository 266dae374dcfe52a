#include "EngineLaunch.h"

#include <QDir>

namespace EngineLaunch {

namespace {
int startTimeout = defaultStartTimeoutMs;
}

QString programPath(const QString& applicationDir)
{
    const QString overridden = qEnvironmentVariable("QLUMAR_ENGINE_PATH");
    if (!overridden.isEmpty())
        return overridden;
#ifdef Q_OS_WIN
    return applicationDir + QLatin1String("/../bin/qlumar_openvpn.exe");
#else
    return applicationDir + QLatin1String("/../bin/qlumar_openvpn");
#endif
}

QStringList arguments(bool pkcs12, const QString& secret)
{
    QStringList args{QStringLiteral("--config"),    QStringLiteral("conf"),    QStringLiteral("--dev"),
                     QStringLiteral("tun"),         QStringLiteral("--float"), QStringLiteral("--pull"),
                     QStringLiteral("--tls-client")};
    if (pkcs12)
        args << QStringLiteral("--keypass") << secret;
    else
        args << QStringLiteral("--engkey") << QStringLiteral("--engine")
             << QLatin1String(tokenPinPrefix) + secret;
    return args;
}

QString workingDirectory(const QString& rootPath, const QString& dirName)
{
    return QDir(rootPath).path() + QDir::separator() + dirName;
}

int startTimeoutMs()
{
    return startTimeout;
}

void setStartTimeoutMs(int milliseconds)
{
    startTimeout = milliseconds;
}

} // namespace EngineLaunch
