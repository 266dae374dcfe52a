#include "EngineOutput.h"

namespace EngineOutput {

qsizetype readLength(const QByteArray& head, bool morePending)
{
    if (!morePending)
        return head.size();
    const qsizetype lineEnd = head.lastIndexOf('\n');
    return lineEnd >= 0 ? lineEnd + 1 : head.size();
}

QString decodeChunk(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

Recognised recognise(QStringView chunk)
{
    // The log's plain text shows a no-break space as a plain one, and it used to be searched.
    QString normalised;
    if (chunk.contains(QChar::Nbsp)) {
        normalised = chunk.toString();
        normalised.replace(QChar::Nbsp, QLatin1Char(' '));
        chunk = normalised;
    }
    Recognised found;
    found.tunnelUp = chunk.contains(QLatin1String(tunnelUpText));
    found.passwordError = chunk.contains(QLatin1String(wrongPasswordText)) ||
                          chunk.contains(QLatin1String(keyDecryptErrorText));
    return found;
}

} // namespace EngineOutput
