#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The values the manager reads back from a profile's "conf". The file is also the engine's own
// configuration, so the reader picks its values out of ordinary directives and one comment line.
struct ProfileData
{
    QString vpnName;
    QString server;
    QString port;
    QString caCert;
    QString userCert;
    QString keyName;
    QString pkcs12File;
    bool authUserPass = false; // an "auth-user-pass" directive: the server asks for username and password
};

namespace ConfReader {

// The value of one keyword in one line, or an empty string. Stored profiles rely on these exact
// rules: only the first occurrence counts, it must start the line or follow whitespace, ';' or
// '#', must be followed by whitespace, and the value runs to the end of the line, trailing
// whitespace included.
QString confValue(const QString& line, const QString& keyword);

// Applies one line (without its line feed) to the data: the first keyword of the fixed order
// "qLumarVpnName", "remote", "rport", "ca", "cert", "key", "pkcs12" with a non-empty value takes it.
// Independently of that, a line that is an "auth-user-pass" directive sets authUserPass.
void applyLine(const QString& line, ProfileData* data);

// Lines end at a line feed only; carriage returns stay part of the line.
ProfileData read(const QByteArray& bytes);
ProfileData read(QIODevice* device);
// "conf" may carry a whole template, inline certificates included, and stored profiles of tens of
// megabytes have always loaded; the cap only keeps a runaway file from exhausting the manager.
constexpr qint64 confLimit = qint64(64) << 20;

// A missing, unreadable, non-regular or oversize file reads as empty data.
ProfileData readFile(const QString& path);

} // namespace ConfReader
