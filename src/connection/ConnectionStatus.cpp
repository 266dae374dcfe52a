#include "ConnectionStatus.h"

#include <QRegularExpression>

#include <limits>

namespace ConnectionStatus {

QString statusLine(const Snapshot& snapshot, const QLocale& locale)
{
    switch (snapshot.phase) {
    case Snapshot::Phase::Idle:
        return QCoreApplication::translate("ConnectionStatus", "Disconnected");
    case Snapshot::Phase::Connecting:
        return QCoreApplication::translate("ConnectionStatus", "Connecting to %1…").arg(snapshot.name);
    case Snapshot::Phase::Failed:
        return QCoreApplication::translate("ConnectionStatus", "Connection to %1 failed: %2")
            .arg(snapshot.name, snapshot.failure);
    case Snapshot::Phase::Connected:
        break;
    }
    QString line = QCoreApplication::translate("ConnectionStatus", "Connected to %1 since %2")
                       .arg(snapshot.name, locale.toString(snapshot.since.time(), QStringLiteral("HH:mm")));
    if (!snapshot.address.isEmpty())
        line += QStringLiteral(" · ") + snapshot.address;
    if (snapshot.hasBytes) {
        const auto size = [&locale](quint64 bytes) {
            return locale.formattedDataSize(
                static_cast<qint64>(qMin<quint64>(bytes, std::numeric_limits<qint64>::max())), 1,
                QLocale::DataSizeSIFormat);
        };
        // No-break spaces: where the line wraps, an arrow keeps its number and the number its unit.
        const QChar noBreak(0x00A0);
        line += QStringLiteral(" · ↓%1%2 ↑%1%3")
                    .arg(noBreak)
                    .arg(size(snapshot.bytesIn).replace(QLatin1Char(' '), noBreak),
                         size(snapshot.bytesOut).replace(QLatin1Char(' '), noBreak));
    }
    return line;
}

QString failureMessage(const QString& code, const QString& engineText)
{
    QString detail = engineText.trimmed();
    for (const QLatin1String prefix : {QLatin1String("Error: "), QLatin1String("Options error: ")}) {
        if (detail.startsWith(prefix))
            detail = detail.mid(prefix.size());
    }
    if (code == QLatin1String("wrong-password"))
        return QCoreApplication::translate("ConnectionStatus", "The password or PIN was not accepted.");
    if (code == QLatin1String("no-pkcs11-module"))
        return QCoreApplication::translate("ConnectionStatus", "No PKCS#11 module is set up for the token.");
    if (code == QLatin1String("server-unreachable"))
        return QCoreApplication::translate("ConnectionStatus", "The VPN server cannot be reached.");
    if (code == QLatin1String("certificate-expired"))
        return QCoreApplication::translate("ConnectionStatus", "The certificate has expired.");
    if (code == QLatin1String("auth-failed"))
        return QCoreApplication::translate("ConnectionStatus", "The server did not accept the login.");
    if (code == QLatin1String("crashed"))
        return QCoreApplication::translate("ConnectionStatus", "The VPN engine stopped unexpectedly.");
    if (code == QLatin1String("config-refused"))
        return detail.isEmpty()
                   ? QCoreApplication::translate("ConnectionStatus", "The configuration was refused.")
                   : QCoreApplication::translate("ConnectionStatus", "The configuration was refused: %1")
                         .arg(detail);
    return detail.isEmpty()
               ? QCoreApplication::translate("ConnectionStatus", "The VPN engine ended with an error.")
               : detail;
}

QString lastErrorLine(QStringView text)
{
    static const QRegularExpression timestamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
    static const QRegularExpression error(QStringLiteral("\\b(error|cannot|failed|fatal)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    const auto lines = text.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = it->trimmed().toString();
        line.remove(timestamp);
        if (line.isEmpty() || line == QLatin1String("Exiting due to fatal error") || line.size() > 1000)
            continue;
        if (error.match(line).hasMatch())
            return line;
    }
    return QString();
}

} // namespace ConnectionStatus
