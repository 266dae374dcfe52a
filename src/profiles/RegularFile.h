#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Files in the profile root are read by path, and anything can stand at a path: a link to a
// device that never ends, a FIFO that blocks the open, a directory. Every read of "conf", the
// certificate copies and "lang" goes through here, so such a file counts as missing instead of
// hanging or exhausting the manager.
namespace RegularFile {

// Far above any real configuration, certificate or language code.
constexpr qint64 defaultLimit = 1024 * 1024;

// The whole file when it is a regular file (a link to one counts) of at most limit bytes; no
// value otherwise, with *reason (may be null) saying why.
std::optional<QByteArray> read(const QString& path, qint64 limit = defaultLimit, QString* reason = nullptr);

// The text of a file that may end early: the bytes before the first NUL, all of them when there is
// none. Inline, so the parsers' fuzz targets need no more than their own file.
inline QByteArrayView upToNul(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes.constData(), nul);
}

// The same bytes, each one Latin-1 character.
inline QString latin1UpToNul(const QByteArray& bytes)
{
    return QString::fromLatin1(upToNul(bytes));
}

} // namespace RegularFile
