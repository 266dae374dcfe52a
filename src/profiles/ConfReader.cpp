#include "ConfReader.h"

#include <QFile>
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
        const char* keyword;
        QString ProfileData::*member;
    };
    static const Field fields[] = {
        {"qLumarVpnName", &ProfileData::vpnName},
        {"remote", &ProfileData::server},
        {"rport", &ProfileData::port},
        {"ca", &ProfileData::caCert},
        {"cert", &ProfileData::userCert},
        {"key", &ProfileData::keyName},
        {"pkcs12", &ProfileData::pkcs12File},
    };
    for (const Field& field : fields) {
        const QString value = confValue(line, QLatin1String(field.keyword));
        if (value.isEmpty())
            continue;
        data->*field.member = field.member == &ProfileData::keyName ? unquoteKey(value) : value;
        return;
    }
}

ProfileData read(QIODevice* device)
{
    ProfileData data;
    while (!device->atEnd()) {
        QByteArray bytes = device->readLine();
        if (bytes.isEmpty())
            break; // a read error would otherwise loop forever
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        applyLine(QString::fromUtf8(bytes), &data);
    }
    return data;
}

ProfileData readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ProfileData();
    return read(&file);
}

} // namespace ConfReader
