#include "VersionFile.h"

#include "profiles/RegularFile.h"

#include <QRegularExpression>
#include <QUrl>

#include <cmath>

namespace VersionFile {

namespace {

// Unicode whitespace for both the match and the split, so a no-break space in a Latin-1 file
// separates fields just like a blank.
const QRegularExpression::PatternOptions patternOptions = QRegularExpression::UseUnicodePropertiesOption;

} // namespace

QString decode(const QByteArray& bytes)
{
    return RegularFile::latin1UpToNul(bytes);
}

QStringList splitLines(const QString& text)
{
    return text.split(QLatin1Char('\n'));
}

QString findLine(const QStringList& lines, const QString& productKey, const QString& languageCode)
{
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(QLatin1Char('^') + productKey +
                                                                         QLatin1String("\\s+") +
                                                                         languageCode + QLatin1String(".+")),
                                     patternOptions);
    if (!pattern.isValid())
        return QString();
    for (const QString& line : lines) {
        if (pattern.match(line).hasMatch())
            return line;
    }
    return QString();
}

QStringList splitFields(const QString& line)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"), patternOptions);
    return line.split(whitespace);
}

double versionValue(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    // toDouble() accepts "nan" and "inf", which would compare as newer than any release.
    return ok && std::isfinite(value) ? value : 0.0;
}

bool isWebAddress(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return false;
    const QString scheme = parsed.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

std::optional<Release> newerRelease(const QByteArray& body, const QString& productKey,
                                    const QString& languageCode, const QString& currentVersion)
{
    const QString line = findLine(splitLines(decode(body)), productKey, languageCode);
    if (line.isNull())
        return std::nullopt;
    const QStringList fields = splitFields(line);
    if (fields.size() < 6)
        return std::nullopt;
    if (versionValue(currentVersion) >= versionValue(fields.at(2)))
        return std::nullopt;
    if (!isWebAddress(fields.at(5)))
        return std::nullopt;
    return Release{fields.at(2), fields.at(4), fields.at(5)};
}

} // namespace VersionFile
