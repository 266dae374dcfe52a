#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The version file served next to each release: one line per product and language, such as
// "dudidudovi en 1.6 setup Download http://host/path". Nothing here touches the network.
namespace VersionFile {

// The check reads no further than this; a larger answer is not a version file.
constexpr qint64 maxBodySize = 64 * 1024;

struct Release
{
    QString version;
    QString linkText;
    QString linkUrl;
};

// Bytes up to the first NUL, each byte one Latin-1 character.
QString decode(const QByteArray& bytes);

// Lines end at line feeds only: a carriage return stays on its line.
QStringList splitLines(const QString& text);

// The first line that as a whole matches "^" + productKey + "\s+" + languageCode + ".+"; both
// are inserted as regular-expression text. Null when no line matches.
QString findLine(const QStringList& lines, const QString& productKey, const QString& languageCode);

// Fields at every whitespace run; empty fields are kept, so trailing whitespace (a CR) yields an
// empty last field.
QStringList splitFields(const QString& line);

// Decimal value of a version text; anything that is not a finite number counts as 0.
double versionValue(const QString& text);

// Only web addresses may be offered for the desktop to open.
bool isWebAddress(const QString& url);

// The release the version file announces for this product and language, when it is newer than
// currentVersion, its line carries all six fields and its link is a web address.
std::optional<Release> newerRelease(const QByteArray& body, const QString& productKey,
                                    const QString& languageCode, const QString& currentVersion);

} // namespace VersionFile
