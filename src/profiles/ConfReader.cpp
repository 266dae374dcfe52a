#include "ConfReader.h"

#include "RegularFile.h"

#include <QIODevice>
#include <QStringList>

namespace ConfReader {

QString confValue(const QString& line, const QString& keyword)
{
    const int at = line.indexOf(keyword);
    if (at < 0)
        return QString();
    if (at > 0) {
        const QChar before = line.at(at - 1);
        if (!before.isSpace() && before != QLatin1Char(';') && before != QLatin1Char('#'))
            return QString();
    }
    int pos = at + keyword.size();
    if (pos < line.size() && !line.at(pos).isSpace())
        return QString();
    while (pos < line.size() && line.at(pos).isSpace())
        ++pos;
    return line.mid(pos);
}

namespace {

QString unquoteKey(const QString& value)
{
    const QStringList pieces = value.split(QLatin1Char('"'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? value : pieces.first();
}

} // namespace

void applyLine(const QString& line, ProfileData* data)
{
    struct Field
    {
        QString keyword;
        QString ProfileData::*member;
    };
    // Built once: every profile line of every reload goes through here.
    static const Field fields[] = {
        {QStringLiteral("qLumarVpnName"), &ProfileData::vpnName},
        {QStringLiteral("remote"), &ProfileData::server},
        {QStringLiteral("rport"), &ProfileData::port},
        {QStringLiteral("ca"), &ProfileData::caCert},
        {QStringLiteral("cert"), &ProfileData::userCert},
        {QStringLiteral("key"), &ProfileData::keyName},
        {QStringLiteral("pkcs12"), &ProfileData::pkcs12File},
    };
    // A directive, not a mention: the first word of the line, alone or followed by blanks.
    static const QLatin1String authUserPass("auth-user-pass");
    const QStringView words = QStringView(line).trimmed();
    if (words.startsWith(authUserPass) &&
        (words.size() == authUserPass.size() || words.at(authUserPass.size()).isSpace()))
        data->authUserPass = true;
    for (const Field& field : fields) {
        QString value = confValue(line, field.keyword);
        if (value.isEmpty())
            continue;
        data->*field.member = field.member == &ProfileData::keyName ? unquoteKey(value) : std::move(value);
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
