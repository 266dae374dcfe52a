#include "ConfReader.h"

#include "RegularFile.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace ConfReader {

namespace {

// The value behind the keyword's first occurrence at `at` (-1: none), by the rules of confValue().
QString valueAt(const QString& line, qsizetype at, qsizetype keywordSize)
{
    if (at < 0)
        return QString();
    if (at > 0) {
        const QChar before = line.at(at - 1);
        if (!before.isSpace() && before != QLatin1Char(';') && before != QLatin1Char('#'))
            return QString();
    }
    qsizetype pos = at + keywordSize;
    if (pos < line.size() && !line.at(pos).isSpace())
        return QString();
    while (pos < line.size() && line.at(pos).isSpace())
        ++pos;
    return line.mid(pos);
}

} // namespace

QString confValue(const QString& line, const QString& keyword)
{
    return valueAt(line, line.indexOf(keyword), keyword.size());
}

namespace {

// Both kinds of line text below: the decoded line, and the raw bytes of a line that is plain
// ASCII, where each byte is the character it decodes to.
inline char16_t unit(QChar c)
{
    return c.unicode();
}
inline char16_t unit(char c)
{
    return char16_t(uchar(c));
}
inline bool isSpace(char16_t c)
{
    return QChar::isSpace(c);
}

inline QString toString(const QChar* text, qsizetype size)
{
    return QString(text, size);
}
inline QString toString(const char* text, qsizetype size)
{
    return QString::fromLatin1(text, size);
}

struct Field
{
    QLatin1String keyword;
    QString ProfileData::*member;
};
// In the order that decides which keyword of a line wins.
constexpr Field fields[] = {
    {QLatin1String("qLumarVpnName"), &ProfileData::vpnName},
    {QLatin1String("remote"), &ProfileData::server},
    {QLatin1String("rport"), &ProfileData::port},
    {QLatin1String("ca"), &ProfileData::caCert},
    {QLatin1String("cert"), &ProfileData::userCert},
    {QLatin1String("key"), &ProfileData::keyName},
    {QLatin1String("pkcs12"), &ProfileData::pkcs12File},
};
constexpr int fieldCount = int(std::size(fields));
constexpr QLatin1String authUserPass("auth-user-pass");

template <typename Char>
bool startsWithAt(const Char* text, qsizetype size, qsizetype at, QLatin1String keyword)
{
    if (size - at < keyword.size())
        return false;
    for (qsizetype k = 0; k < keyword.size(); ++k) {
        if (unit(text[at + k]) != char16_t(uchar(keyword.data()[k])))
            return false;
    }
    return true;
}

// The first of the pieces between double quotes that is not empty; the whole value when there is
// none, as splitting on '"' and skipping empty parts gives it.
template <typename Char> QString unquoteKey(const Char* text, qsizetype size)
{
    qsizetype begin = 0;
    while (begin < size) {
        qsizetype end = begin;
        while (end < size && unit(text[end]) != u'"')
            ++end;
        if (end > begin)
            return toString(text + begin, end - begin);
        begin = end + 1;
    }
    return toString(text, size);
}

// Applies the line and returns true; given bytes, only when they are plain ASCII (each byte then
// reads as the character it decodes to): false for any other line, which is left unapplied.
template <typename Char> bool applyLineTo(const Char* text, qsizetype size, ProfileData* data)
{
    constexpr bool bytes = std::is_same_v<Char, char>;
    // Every line of every profile of every reload comes through here, and nearly all are template
    // lines holding none of the keywords: one pass finds each keyword's first occurrence, where
    // seven searches of the whole line used to.
    qsizetype first[fieldCount];
    std::fill(std::begin(first), std::end(first), qsizetype(-1));
    int found = 0;
    const auto match = [&](int f, qsizetype i) {
        if (first[f] < 0 && startsWithAt(text, size, i, fields[f].keyword)) {
            first[f] = i;
            ++found;
        }
    };
    // Bytes are checked to the end of the line, for the ASCII test.
    for (qsizetype i = 0; i < size && (bytes || found < fieldCount); ++i) {
        const char16_t c = unit(text[i]);
        switch (c) {
        case u'q':
            match(0, i);
            break;
        case u'r':
            match(1, i);
            match(2, i);
            break;
        case u'c':
            match(3, i);
            match(4, i);
            break;
        case u'k':
            match(5, i);
            break;
        case u'p':
            match(6, i);
            break;
        default:
            if (bytes && c >= 0x80)
                return false;
        }
    }

    // A directive, not a mention: the first word of the line, alone or followed by blanks.
    qsizetype wordsBegin = 0;
    qsizetype wordsEnd = size;
    while (wordsBegin < wordsEnd && isSpace(unit(text[wordsBegin])))
        ++wordsBegin;
    while (wordsEnd > wordsBegin && isSpace(unit(text[wordsEnd - 1])))
        --wordsEnd;
    if (startsWithAt(text, wordsEnd, wordsBegin, authUserPass) &&
        (wordsEnd - wordsBegin == authUserPass.size() ||
         isSpace(unit(text[wordsBegin + authUserPass.size()]))))
        data->authUserPass = true;

    for (int f = 0; f < fieldCount; ++f) {
        // The value behind the keyword's first occurrence, by the rules of confValue().
        const qsizetype at = first[f];
        if (at < 0)
            continue;
        if (at > 0) {
            const char16_t before = unit(text[at - 1]);
            if (!isSpace(before) && before != u';' && before != u'#')
                continue;
        }
        qsizetype pos = at + fields[f].keyword.size();
        if (pos < size && !isSpace(unit(text[pos])))
            continue;
        while (pos < size && isSpace(unit(text[pos])))
            ++pos;
        if (pos == size)
            continue;
        data->*fields[f].member = fields[f].member == &ProfileData::keyName
                                      ? unquoteKey(text + pos, size - pos)
                                      : toString(text + pos, size - pos);
        return true;
    }
    return true;
}

} // namespace

void applyLine(const QString& line, ProfileData* data)
{
    applyLineTo(line.constData(), line.size(), data);
}

ProfileData read(const QByteArray& bytes)
{
    ProfileData data;
    const char* text = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        const void* feed = std::memchr(text + start, '\n', size_t(size - start));
        // A last line without a line feed counts whole.
        const qsizetype end = feed ? static_cast<const char*>(feed) - text : size;
        // A value needs at least a two-letter keyword, a space and one character; skipping
        // shorter lines keeps files of nothing but line ends cheap.
        if (end - start >= 4) {
            // Nearly every line is plain ASCII, which reads the same from its bytes; any other
            // line is decoded first.
            const char* line = text + start;
            const qsizetype length = end - start;
            if (!applyLineTo(line, length, &data))
                applyLine(QString::fromUtf8(QByteArrayView(line, length)), &data);
        }
        start = end + 1;
    }
    return data;
}

ProfileData read(QIODevice* device)
{
    return read(device->readAll());
}

ProfileData readFile(const QString& path)
{
    const auto bytes = RegularFile::read(path, confLimit);
    return bytes ? read(*bytes) : ProfileData();
}

} // namespace ConfReader
