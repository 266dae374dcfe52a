#include "ConfReader.h"

#include "RegularFile.h"

#include <QIODevice>
#include <QStringList>

#include <algorithm>
#include <iterator>

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

QString unquoteKey(const QString& value)
{
    const QStringList pieces = value.split(QLatin1Char('"'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? value : pieces.first();
}

} // namespace

QString confValue(const QString& line, const QString& keyword)
{
    return valueAt(line, line.indexOf(keyword), keyword.size());
}

void applyLine(const QString& line, ProfileData* data)
{
    struct Field
    {
        QLatin1String keyword;
        QString ProfileData::*member;
    };
    // In the order that decides which keyword of a line wins.
    static constexpr Field fields[] = {
        {QLatin1String("qLumarVpnName"), &ProfileData::vpnName},
        {QLatin1String("remote"), &ProfileData::server},
        {QLatin1String("rport"), &ProfileData::port},
        {QLatin1String("ca"), &ProfileData::caCert},
        {QLatin1String("cert"), &ProfileData::userCert},
        {QLatin1String("key"), &ProfileData::keyName},
        {QLatin1String("pkcs12"), &ProfileData::pkcs12File},
    };
    // A directive, not a mention: the first word of the line, alone or followed by blanks.
    static const QLatin1String authUserPass("auth-user-pass");
    const QStringView words = QStringView(line).trimmed();
    if (words.startsWith(authUserPass) &&
        (words.size() == authUserPass.size() || words.at(authUserPass.size()).isSpace()))
        data->authUserPass = true;

    constexpr int fieldCount = int(std::size(fields));

    // Every line of every profile of every reload comes through here, and nearly all are template
    // lines holding none of the keywords: one pass finds each keyword's first occurrence, where
    // seven searches of the whole line used to.
    qsizetype first[fieldCount];
    std::fill(std::begin(first), std::end(first), qsizetype(-1));
    int found = 0;
    const qsizetype size = line.size();
    const QChar* text = line.constData();
    for (qsizetype i = 0; i < size && found < fieldCount; ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'q' && c != u'r' && c != u'c' && c != u'k' && c != u'p')
            continue;
        for (int f = 0; f < fieldCount; ++f) {
            if (first[f] >= 0 || fields[f].keyword.front() != QLatin1Char(char(c)))
                continue;
            if (QStringView(line).sliced(i).startsWith(fields[f].keyword)) {
                first[f] = i;
                ++found;
            }
        }
    }

    for (int f = 0; f < fieldCount; ++f) {
        QString value = valueAt(line, first[f], fields[f].keyword.size());
        if (value.isEmpty())
            continue;
        data->*fields[f].member =
            fields[f].member == &ProfileData::keyName ? unquoteKey(value) : std::move(value);
        return;
    }
}

ProfileData read(const QByteArray& bytes)
{
    ProfileData data;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size(); // a last line without a line feed counts whole
        // A value needs at least a two-letter keyword, a space and one character; skipping
        // shorter lines keeps files of nothing but line ends cheap.
        if (end - start >= 4)
            applyLine(QString::fromUtf8(QByteArrayView(bytes).sliced(start, end - start)), &data);
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
