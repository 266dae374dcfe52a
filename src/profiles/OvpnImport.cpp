#include "OvpnImport.h"

#include "ConfReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const char* const pkcs12Name = "user.p12";
const char* const pkcs12PasswordMissing =
    QT_TRANSLATE_NOOP("OvpnImport", "Choose a password for the PKCS#12 file!");

// Every option OpenVPN 2.6 documents; anything else is wrapped so that OpenVPN skips it.
const QSet<QString>& knownDirectives()
{
    static const QSet<QString> known = [] {
        const QString all = QStringLiteral(
            "allow-compression allow-nonadmin allow-pull-fqdn allow-recursive-routing askpass auth "
            "auth-gen-token auth-gen-token-secret auth-nocache auth-retry auth-token auth-token-user "
            "auth-user-pass auth-user-pass-optional auth-user-pass-verify bcast-buffers bind bind-dev "
            "block-ipv6 block-outside-dns ca capath ccd-exclusive cd cert chroot cipher client "
            "client-cert-not-required client-config-dir client-connect client-crresponse client-disconnect "
            "client-nat client-to-client comp-lzo comp-noadapt compat-mode compress config connect-freq "
            "connect-freq-initial connect-retry connect-retry-max connect-timeout crl-verify cryptoapicert "
            "daemon data-ciphers data-ciphers-fallback dev dev-node dev-type dh dhcp-option dhcp-release "
            "dhcp-renew disable disable-dco disable-occ dns down down-pre duplicate-cn ecdh-curve echo "
            "engine errors-to-stderr explicit-exit-notify extra-certs fast-io float "
            "force-tls-key-material-export fragment genkey group hand-window hash-size help http-proxy "
            "http-proxy-option http-proxy-user-pass ifconfig ifconfig-ipv6 ifconfig-ipv6-pool "
            "ifconfig-ipv6-push ifconfig-noexec ifconfig-nowarn ifconfig-pool ifconfig-pool-linear "
            "ifconfig-pool-persist ifconfig-push ignore-unknown-option inactive ip-win32 ipchange iproute "
            "iroute iroute-ipv6 keepalive key key-direction key-method keying-material-exporter "
            "learn-address link-mtu lladdr local log log-append lport machine-readable-output management "
            "management-client management-client-auth management-client-group management-client-pf "
            "management-client-user management-external-cert management-external-key "
            "management-forget-disconnect management-hold management-log-cache management-query-passwords "
            "management-query-proxy management-query-remote management-signal management-up-down mark "
            "max-clients max-packet-size max-routes-per-client mktun mlock mode mssfix mtu-disc mtu-test "
            "multihome mute mute-replay-warnings ncp-ciphers ncp-disable nice no-iv no-replay nobind "
            "ns-cert-type opt-verify passtos pause-exit peer-fingerprint persist-key persist-local-ip "
            "persist-remote-ip persist-tun ping ping-exit ping-restart ping-timer-rem pkcs11-cert-private "
            "pkcs11-id pkcs11-id-management pkcs11-pin-cache pkcs11-private-mode "
            "pkcs11-protected-authentication pkcs11-providers pkcs12 plugin port port-share prng proto "
            "proto-force providers pull pull-filter push push-peer-info push-remove push-reset rcvbuf "
            "redirect-gateway redirect-private register-dns remap-usr1 remote remote-cert-eku remote-cert-ku "
            "remote-cert-tls remote-random remote-random-hostname reneg-bytes reneg-pkts reneg-sec "
            "replay-persist replay-window resolv-retry rmtun route route-delay route-gateway route-ipv6 "
            "route-ipv6-gateway route-method route-metric route-noexec route-nopull route-pre-down route-up "
            "rport script-security secret server server-bridge server-ipv6 server-poll-timeout service "
            "session-timeout setcon setenv setenv-safe shaper show-adapters show-ciphers show-digests "
            "show-engines show-gateway show-groups show-net show-net-up show-pkcs11-ids show-tls "
            "show-valid-subnets single-session sndbuf socket-flags socks-proxy stale-routes-check "
            "static-challenge status status-version suppress-timestamps syslog tap-sleep tcp-nodelay "
            "tcp-queue-limit test-crypto tls-auth tls-cert-profile tls-cipher tls-ciphersuites tls-client "
            "tls-crypt tls-crypt-v2 tls-crypt-v2-verify tls-exit tls-export-cert tls-groups tls-server "
            "tls-timeout tls-verify tls-version-max tls-version-min tmp-dir topology tran-window tun-max-mtu "
            "tun-mtu tun-mtu-extra txqueuelen up up-delay up-restart use-prediction-resistance user "
            "username-as-common-name verb verify-client-cert verify-hash verify-x509-name vlan-accept "
            "vlan-pvid vlan-tagging win-sys windows-driver writepid x509-track x509-username-field "
            "connection tun-ipv6");
        const QStringList names = all.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return QSet<QString>(names.begin(), names.end());
    }();
    return known;
}

// Directives whose parameter is a file that can also come as an inline block of the same name.
bool isMaterial(const QString& keyword)
{
    static const QSet<QString> names = {"ca",       "cert",      "key",          "pkcs12",
                                        "tls-auth", "tls-crypt", "tls-crypt-v2", "extra-certs",
                                        "secret",   "dh",        "crl-verify"};
    return names.contains(keyword);
}

bool runsProgram(const QString& keyword, const QStringList& tokens)
{
    static const QSet<QString> names = {
        "up",         "down",          "route-up",           "route-pre-down",    "ipchange",
        "tls-verify", "learn-address", "client-connect",     "client-disconnect", "auth-user-pass-verify",
        "plugin",     "iproute",       "tls-crypt-v2-verify"};
    if (keyword == QLatin1String("script-security"))
        return tokens.size() < 2 || tokens.at(1).toInt() >= 2;
    return names.contains(keyword);
}

bool outOfReach(const QString& keyword)
{
    static const QSet<QString> names = {"daemon", "log", "log-append", "syslog", "askpass", "service"};
    return names.contains(keyword) || keyword.startsWith(QLatin1String("management"));
}

// Providers ship one file for every system; OpenVPN elsewhere stops at these.
bool windowsOnly(const QString& keyword)
{
    static const QSet<QString> names = {"block-outside-dns", "register-dns",   "ip-win32",
                                        "route-method",      "dhcp-renew",     "dhcp-release",
                                        "tap-sleep",         "allow-nonadmin", "windows-driver",
                                        "win-sys",           "cryptoapicert",  "pause-exit"};
    return names.contains(keyword);
}

bool notAConnection(const QString& keyword)
{
    static const QSet<QString> names = {"genkey", "test-crypto", "mktun", "rmtun", "help", "version"};
    return names.contains(keyword) || keyword.startsWith(QLatin1String("show-"));
}

// Splits a line as OpenVPN does: blanks separate words, double quotes group them with backslash
// escapes, single quotes group them literally, a backslash outside quotes escapes the next
// character, and '#' or ';' at the start of a word ends the line.
QStringList tokenize(const QString& line)
{
    QStringList tokens;
    QString token;
    bool inToken = false;
    bool backslash = false;
    QChar quote;
    for (const QChar c : line) {
        if (backslash) {
            token += c;
            backslash = false;
        } else if (c == QLatin1Char('\\') && quote != QLatin1Char('\'')) {
            // Single quotes take a backslash literally; double quotes and bare words do not.
            backslash = true;
            inToken = true;
        } else if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                token += c;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
            inToken = true;
        } else if (c.isSpace()) {
            if (inToken)
                tokens.append(token);
            token.clear();
            inToken = false;
        } else if (!inToken && (c == QLatin1Char('#') || c == QLatin1Char(';'))) {
            break;
        } else {
            token += c;
            inToken = true;
        }
    }
    if (inToken)
        tokens.append(token);
    return tokens;
}

// OpenVPN's own escaping for a word written back into the template.
QString quoteWord(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.:/+=@,\\[\\]-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : word) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// Whether the manager's reader would take a value from this line. It reads the whole "conf", the
// template included, and a template line that yields a value overrides the header.
bool readBack(const QString& line)
{
    ProfileData data;
    ConfReader::applyLine(line, &data);
    return !data.vpnName.isEmpty() || !data.server.isEmpty() || !data.port.isEmpty() ||
           !data.caCert.isEmpty() || !data.userCert.isEmpty() || !data.keyName.isEmpty() ||
           !data.pkcs12File.isEmpty();
}

// OpenVPN ignores a leading "--" on a directive; the reader does not see a keyword glued to it.
QString safeDirective(const QString& line)
{
    if (!readBack(line))
        return line;
    const QString dashed = QLatin1String("--") + line;
    return readBack(dashed) ? QString() : dashed;
}

// Regular files only, read after checking what was opened: a named pipe or device beside a
// downloaded file must neither block the import nor be read.
bool readRegularFile(const QString& path, QByteArray* bytes, QString* why)
{
    const qint64 cap = OvpnImport::maxFileSize;
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = QCoreApplication::translate("RegularFile", "not a regular file");
        return false;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        *why = QCoreApplication::translate("RegularFile", "not a regular file");
    bytes->clear();
    while (ok && bytes->size() <= cap) {
        char buffer[16384];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            bytes->append(buffer, got);
        }
    }
    ::close(fd);
#else
    QFile file(path);
    bool ok = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
    if (!ok)
        *why = file.errorString();
    else
        *bytes = file.read(cap + 1);
#endif
    if (ok && bytes->size() > cap) {
        *why = QCoreApplication::translate("RegularFile", "larger than %1 bytes").arg(cap);
        ok = false;
    }
    return ok;
}

QList<QByteArray> bodyLines(const QByteArray& bytes)
{
    QByteArray text = bytes;
    text.replace("\r\n", "\n");
    QList<QByteArray> lines = text.split('\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines;
}

int passwordCallback(char* buffer, int size, int, void* user)
{
    const QByteArray* secret = static_cast<const QByteArray*>(user);
    if (!secret || secret->isEmpty() || secret->size() > size)
        return 0;
    std::memcpy(buffer, secret->constData(), static_cast<size_t>(secret->size()));
    return static_cast<int>(secret->size());
}

QString opensslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QString();
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using P12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;

void freeCertStack(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
using StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeCertStack>>;

BioPtr memoryBio(const QByteArray& bytes)
{
    return BioPtr(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
}

// Every certificate of a PEM text, in order.
void appendCertificates(const QByteArray& pem, STACK_OF(X509) * stack)
{
    BioPtr bio = memoryBio(pem);
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        sk_X509_push(stack, cert);
    ERR_clear_error();
}

} // namespace

struct OvpnImport::Line
{
    enum Type { Blank, Comment, Directive, Block };
    Type type = Blank;
    int number = 0;
    QString raw; // without line end
    QStringList tokens;
    QString keyword;
    QString blockName;
    QByteArray blockBody;    // inline block contents
    QByteArray fileBytes;    // a file the directive names, read beside the imported one
    std::vector<Line> inner; // a <connection> block's lines
};

const char* OvpnImport::reasonText(Reason reason)
{
    switch (reason) {
    case Reason::Comment:
        return QT_TRANSLATE_NOOP("OvpnImport", "comment");
    case Reason::Directive:
        return QT_TRANSLATE_NOOP("OvpnImport", "kept for OpenVPN");
    case Reason::InlineBlock:
        return QT_TRANSLATE_NOOP("OvpnImport", "inline block, kept inline");
    case Reason::InlineReference:
        return QT_TRANSLATE_NOOP("OvpnImport", "names its inline block, which is imported by itself");
    case Reason::MovedToHeader:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "server and port are the connection's own, in the profile's header");
    case Reason::ProtocolKept:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "server and port moved to the profile's header; its protocol is kept");
    case Reason::FurtherServer:
        return QT_TRANSLATE_NOOP(
            "OvpnImport", "a further server, written so that the first one stays the connection's server");
    case Reason::ConnectionServer:
        return QT_TRANSLATE_NOOP(
            "OvpnImport",
            "server of a <connection> block, written so that the manager does not read it as the "
            "connection's server");
    case Reason::FileInlined:
        return QT_TRANSLATE_NOOP("OvpnImport", "the file beside the imported one is now inline");
    case Reason::FileCopied:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "written to a file of the profile, as the manager would misread it inline");
    case Reason::Pkcs12File:
        return QT_TRANSLATE_NOOP("OvpnImport", "the PKCS#12 file is now the profile's own file");
    case Reason::PackedIntoPkcs12:
        return QT_TRANSLATE_NOOP(
            "OvpnImport",
            "packed into the profile's PKCS#12 file, protected by the password chosen at import");
    case Reason::TokenCopied:
        return QT_TRANSLATE_NOOP("OvpnImport", "copied into the profile for the token key");
    case Reason::TokenSetting:
        return QT_TRANSLATE_NOOP(
            "OvpnImport",
            "the token comes from the manager's settings and the key from the profile's key name");
    case Reason::CredentialsAsked:
        return QT_TRANSLATE_NOOP(
            "OvpnImport",
            "username and password are asked for when connecting and never stored with the profile");
    case Reason::ReadBackAsProfile:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "the manager would read this line as the connection's own data");
    case Reason::RunsProgram:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "runs programs on this computer; an imported file may not do that");
    case Reason::OutOfReach:
        return QT_TRANSLATE_NOOP("OvpnImport", "would take OpenVPN out of the manager's reach");
    case Reason::ChangesDirectory:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "changes the directory, so the profile's files would not be found");
    case Reason::IncludesFile:
        return QT_TRANSLATE_NOOP("OvpnImport", "reads another configuration file, which is not imported");
    case Reason::NotAConnection:
        return QT_TRANSLATE_NOOP("OvpnImport", "a stand-alone command, not part of a connection");
    case Reason::DirectoryBeside:
        return QT_TRANSLATE_NOOP("OvpnImport", "names a directory, which is not imported");
    case Reason::UnknownDirective:
        return QT_TRANSLATE_NOOP(
            "OvpnImport", "unknown directive; OpenVPN is told to skip it if it does not know it either");
    case Reason::OtherSystem:
        return QT_TRANSLATE_NOOP("OvpnImport",
                                 "an option of OpenVPN on Windows; OpenVPN here is told to skip it");
    }
    return "";
}

bool OvpnImport::fail(const QString& error)
{
    m_error = error;
    return false;
}

bool OvpnImport::readFile(const QString& path)
{
    QByteArray bytes;
    QString why;
    if (!readRegularFile(path, &bytes, &why))
        return fail(tr("Cannot read %1: %2").arg(path, why));
    const QFileInfo info(path);
    return read(bytes, info.completeBaseName(), info.absolutePath());
}

bool OvpnImport::readMaterial(const QString& keyword, const QString& fileName, QByteArray* bytes)
{
    QString why;
    const QString path = QDir(m_baseDir).filePath(fileName);
    if (!readRegularFile(path, bytes, &why))
        return fail(tr("Cannot read %1 (%2): %3").arg(path, keyword, why));
    return true;
}

void OvpnImport::addEntry(const Line& line, Fate fate, Reason reason, const QString& written,
                          const QString& detail)
{
    Entry entry;
    entry.line = line.number;
    entry.source = line.type == Line::Block ? QLatin1Char('<') + line.blockName + QLatin1Char('>') : line.raw;
    entry.fate = fate;
    entry.reason = reason;
    entry.written = written;
    entry.detail = detail;
    m_report.push_back(entry);
}

bool OvpnImport::read(const QByteArray& text, const QString& name, const QString& baseDir)
{
    *this = OvpnImport();
    m_baseDir = baseDir;
    m_name = name;
    m_name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    QByteArray bytes = text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringList rawLines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!rawLines.isEmpty() && rawLines.last().isEmpty())
        rawLines.removeLast();
    for (QString& raw : rawLines) {
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
    }

    static const QRegularExpression opener(QStringLiteral("^\\s*<([A-Za-z0-9-]+)>\\s*$"));

    // Parse into lines and blocks; a <connection> block's own lines go into it.
    std::function<bool(int, int, std::vector<Line>*)> parse = [&](int from, int to, std::vector<Line>* into) {
        for (int i = from; i < to; ++i) {
            Line line;
            line.number = i + 1;
            line.raw = rawLines.at(i);
            const QString trimmed = line.raw.trimmed();
            const QRegularExpressionMatch open = opener.match(line.raw);
            if (trimmed.isEmpty()) {
                line.type = Line::Blank;
            } else if (trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char(';'))) {
                line.type = Line::Comment;
            } else if (open.hasMatch()) {
                line.type = Line::Block;
                line.blockName = open.captured(1);
                const QString closer = QLatin1String("</") + line.blockName + QLatin1Char('>');
                int end = i + 1;
                while (end < to && rawLines.at(end).trimmed() != closer)
                    ++end;
                if (end >= to)
                    return fail(tr("Line %1: <%2> is not closed").arg(line.number).arg(line.blockName));
                if (line.blockName == QLatin1String("connection")) {
                    if (!parse(i + 1, end, &line.inner))
                        return false;
                } else {
                    for (int j = i + 1; j < end; ++j)
                        line.blockBody += rawLines.at(j).toUtf8() + '\n';
                }
                i = end;
            } else {
                line.type = Line::Directive;
                line.tokens = tokenize(line.raw);
                if (line.tokens.isEmpty()) {
                    line.type = Line::Comment;
                } else {
                    line.keyword = line.tokens.first();
                    if (line.keyword.startsWith(QLatin1String("--")))
                        line.keyword.remove(0, 2);
                    const bool byFile =
                        line.tokens.size() > 1 && line.tokens.at(1) != QLatin1String("[inline]") &&
                        !(line.keyword == QLatin1String("crl-verify") && line.tokens.size() > 2);
                    if (isMaterial(line.keyword) && byFile &&
                        !readMaterial(line.keyword, line.tokens.at(1), &line.fileBytes))
                        return false;
                }
            }
            into->push_back(std::move(line));
        }
        return true;
    };
    std::vector<Line> lines;
    if (!parse(0, int(rawLines.size()), &lines))
        return false;

    // What the file holds, before deciding what becomes of each line.
    bool haveCert = false;
    bool haveKey = false;
    bool haveConnections = false;
    QString firstHost;
    QString firstPort;
    QString connectionHost;
    QString connectionPort;
    m_globalPort = QString::fromLatin1(ProfileSave::defaultPort);
    auto remotePort = [](const std::vector<Line>& scope, const QString& fallback) {
        QString port = fallback;
        for (const Line& line : scope) {
            if (line.type == Line::Directive && line.tokens.size() > 1 &&
                (line.keyword == QLatin1String("port") || line.keyword == QLatin1String("rport")))
                port = line.tokens.at(1);
        }
        return port;
    };
    m_globalPort = remotePort(lines, m_globalPort);
    for (const Line& line : lines) {
        QByteArray material = line.type == Line::Block ? line.blockBody : line.fileBytes;
        const QString keyword = line.type == Line::Block ? line.blockName : line.keyword;
        if (line.type == Line::Block && keyword == QLatin1String("connection")) {
            if (!haveConnections) {
                haveConnections = true;
                for (const Line& inner : line.inner) {
                    if (inner.keyword == QLatin1String("remote") && inner.tokens.size() > 1 &&
                        connectionHost.isEmpty()) {
                        connectionHost = inner.tokens.at(1);
                        connectionPort = inner.tokens.size() > 2 ? inner.tokens.at(2)
                                                                 : remotePort(line.inner, m_globalPort);
                    }
                }
            }
            continue;
        }
        if (keyword == QLatin1String("remote") && firstHost.isEmpty() && line.tokens.size() > 1) {
            firstHost = line.tokens.at(1);
            firstPort = line.tokens.size() > 2 ? line.tokens.at(2) : m_globalPort;
        } else if (keyword == QLatin1String("auth-user-pass")) {
            m_authUserPass = true;
        } else if (keyword == QLatin1String("static-challenge") && line.tokens.size() > 1) {
            m_challengeText = line.tokens.at(1);
            m_challengeEcho = line.tokens.size() > 2 && line.tokens.at(2) == QLatin1String("1");
        } else if (keyword == QLatin1String("pkcs11-id") && line.tokens.size() > 1) {
            m_pkcs11Id = line.tokens.at(1);
        } else if (material.isEmpty()) {
            continue;
        } else if (keyword == QLatin1String("pkcs12")) {
            if (line.type == Line::Block) {
                material = QByteArray::fromBase64Encoding(material.simplified().replace(' ', QByteArray()),
                                                          QByteArray::AbortOnBase64DecodingErrors)
                               .decoded;
                if (material.isEmpty())
                    return fail(tr("Line %1: <pkcs12> is not base64").arg(line.number));
            }
            m_pkcs12 = material;
        } else if (keyword == QLatin1String("ca")) {
            m_caPem += material;
        } else if (keyword == QLatin1String("cert")) {
            m_certPem = material;
            haveCert = true;
        } else if (keyword == QLatin1String("key")) {
            m_keyPem = material;
            haveKey = true;
        }
    }

    if (haveConnections) {
        m_host = connectionHost;
        m_port = connectionPort;
    } else {
        m_host = firstHost;
        m_port = firstPort;
    }
    if (m_host.isEmpty())
        return fail(tr("The file names no server (remote)"));
    static const QRegularExpression badHost(QStringLiteral("[\\s\"'#;]"));
    if (badHost.match(m_host).hasMatch())
        return fail(tr("Invalid server name '%1'").arg(m_host));
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int portNumber = m_port.toInt();
    if (!digits.match(m_port).hasMatch() || portNumber < 1 || portNumber > 65535)
        return fail(tr("Invalid server port '%1'").arg(m_port));

    if (!m_pkcs12.isEmpty()) {
        m_kind = Kind::Pkcs12;
    } else if (!m_pkcs11Id.isEmpty()) {
        m_kind = Kind::CertificateAndTokenKey;
        if (m_caPem.isEmpty())
            return fail(tr("A token profile needs the CA certificate (ca)"));
    } else if (haveCert && haveKey) {
        m_kind = Kind::Pkcs12;
        m_packing = true;
        m_keyEncrypted = m_keyPem.contains("ENCRYPTED");
    } else if (haveCert || haveKey) {
        return fail(haveCert ? tr("The file has a certificate but no private key (key)")
                             : tr("The file has a private key but no certificate (cert)"));
    } else if (m_authUserPass) {
        m_kind = Kind::UserPassword;
    } else {
        return fail(tr("The file holds no credentials: no PKCS#12 file, certificate and key, "
                       "token key or username and password"));
    }

    QStringList out;
    bool firstRemoteTaken = false;
    for (const Line& line : lines) {
        switch (line.type) {
        case Line::Blank:
            out.append(QString());
            break;
        case Line::Comment:
            if (readBack(line.raw)) {
                addEntry(line, Fate::LeftOut, Reason::ReadBackAsProfile);
            } else {
                out.append(line.raw);
                addEntry(line, Fate::Kept, Reason::Comment);
            }
            break;
        case Line::Block:
            if (line.blockName == QLatin1String("connection")) {
                out.append(line.raw.trimmed());
                addEntry(line, Fate::Kept, Reason::InlineBlock);
                const QString port = remotePort(line.inner, m_globalPort);
                for (const Line& inner : line.inner) {
                    if (inner.type == Line::Directive && inner.keyword == QLatin1String("remote") &&
                        inner.tokens.size() > 1) {
                        QStringList words = inner.tokens.mid(1);
                        if (words.size() == 1)
                            words.append(port);
                        for (QString& word : words)
                            word = quoteWord(word);
                        const QString written = QLatin1String("--remote ") + words.join(QLatin1Char(' '));
                        writeChanged(inner, written, Reason::ConnectionServer, &out);
                    } else if (inner.type == Line::Blank) {
                        out.append(QString());
                    } else {
                        handleDirective(inner, &out);
                    }
                }
                out.append(QLatin1String("</connection>"));
            } else {
                emitMaterial(line.blockName, line.blockBody, QStringList(), line, false, &out);
            }
            break;
        case Line::Directive:
            if (line.keyword == QLatin1String("remote") && line.tokens.size() > 1) {
                if (!haveConnections && !firstRemoteTaken) {
                    firstRemoteTaken = true;
                    if (line.tokens.size() > 3) {
                        const QString written = QLatin1String("proto ") + quoteWord(line.tokens.at(3));
                        writeChanged(line, written, Reason::ProtocolKept, &out);
                    } else {
                        addEntry(line, Fate::LeftOut, Reason::MovedToHeader);
                    }
                } else {
                    QStringList words = line.tokens.mid(1);
                    if (words.size() == 1)
                        words.append(m_globalPort);
                    for (QString& word : words)
                        word = quoteWord(word);
                    const QString written = QLatin1String("--remote ") + words.join(QLatin1Char(' '));
                    writeChanged(line, written, Reason::FurtherServer, &out);
                }
            } else if (line.keyword == QLatin1String("rport")) {
                addEntry(line, Fate::LeftOut, Reason::MovedToHeader);
            } else {
                handleDirective(line, &out);
            }
            break;
        }
        if (!m_error.isEmpty())
            return false;
    }
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    m_templateText = out.isEmpty() ? QByteArray() : out.join(QLatin1Char('\n')).toUtf8() + '\n';
    return true;
}

void OvpnImport::handleDirective(const Line& line, QStringList* out)
{
    const QString& keyword = line.keyword;
    const QString trimmed = line.raw.trimmed();
    auto keep = [&](const QString& text, Reason reason) {
        const QString safe = safeDirective(text);
        if (safe.isEmpty()) {
            addEntry(line, Fate::LeftOut, Reason::ReadBackAsProfile);
        } else if (safe != trimmed) {
            out->append(safe);
            addEntry(line, Fate::Changed, safe == text ? reason : Reason::ReadBackAsProfile, safe);
        } else {
            out->append(safe);
            addEntry(line, Fate::Kept, reason);
        }
    };

    if (line.type == Line::Comment) {
        if (readBack(line.raw)) {
            addEntry(line, Fate::LeftOut, Reason::ReadBackAsProfile);
        } else {
            out->append(line.raw);
            addEntry(line, Fate::Kept, Reason::Comment);
        }
    } else if (line.type == Line::Block) {
        emitMaterial(line.blockName, line.blockBody, QStringList(), line, false, out);
    } else if (isMaterial(keyword) && line.tokens.size() > 1 &&
               line.tokens.at(1) == QLatin1String("[inline]")) {
        // The block says the same by itself, and may end up in a file of the profile.
        if (credentialFate(keyword, line))
            return;
        const bool direction = keyword == QLatin1String("tls-auth") || keyword == QLatin1String("secret");
        if (direction && line.tokens.size() > 2)
            keep(QLatin1String("key-direction ") + quoteWord(line.tokens.at(2)), Reason::InlineReference);
        else
            addEntry(line, Fate::LeftOut, Reason::InlineReference);
    } else if (keyword == QLatin1String("crl-verify") && line.tokens.size() > 2) {
        addEntry(line, Fate::LeftOut, Reason::DirectoryBeside);
    } else if (isMaterial(keyword) && line.tokens.size() > 1) {
        emitMaterial(keyword, line.fileBytes, line.tokens.mid(2), line, true, out);
    } else if (keyword == QLatin1String("auth-user-pass")) {
        if (line.tokens.size() > 1)
            keep(QStringLiteral("auth-user-pass"), Reason::CredentialsAsked);
        else
            keep(trimmed, Reason::Directive);
    } else if (keyword.startsWith(QLatin1String("pkcs11-"))) {
        addEntry(line, Fate::LeftOut, Reason::TokenSetting);
    } else if (runsProgram(keyword, line.tokens)) {
        addEntry(line, Fate::LeftOut, Reason::RunsProgram);
    } else if (outOfReach(keyword)) {
        addEntry(line, Fate::LeftOut, Reason::OutOfReach);
    } else if (keyword == QLatin1String("cd") || keyword == QLatin1String("chroot")) {
        addEntry(line, Fate::LeftOut, Reason::ChangesDirectory);
    } else if (keyword == QLatin1String("config")) {
        addEntry(line, Fate::LeftOut, Reason::IncludesFile);
    } else if (notAConnection(keyword)) {
        addEntry(line, Fate::LeftOut, Reason::NotAConnection);
    } else if (windowsOnly(keyword)) {
        keep(QLatin1String("setenv opt ") + trimmed, Reason::OtherSystem);
    } else if (!knownDirectives().contains(keyword)) {
        keep(QLatin1String("setenv opt ") + trimmed, Reason::UnknownDirective);
    } else {
        keep(trimmed, Reason::Directive);
    }
}

// Lines the import writes in place of a source line. Their words come from the file, so they too
// must not feed the manager's reader.
bool OvpnImport::writeChanged(const Line& line, const QString& text, Reason reason, QStringList* out,
                              const QString& detail)
{
    if (readBack(text)) {
        addEntry(line, Fate::LeftOut, Reason::ReadBackAsProfile);
        return false;
    }
    out->append(text);
    addEntry(line, Fate::Changed, reason, text, detail);
    return true;
}

bool OvpnImport::credentialFate(const QString& keyword, const Line& line)
{
    const bool credential = keyword == QLatin1String("ca") || keyword == QLatin1String("cert") ||
                            keyword == QLatin1String("key") || keyword == QLatin1String("pkcs12");
    if (keyword == QLatin1String("pkcs12") && m_kind == Kind::Pkcs12 && !m_packing) {
        addEntry(line, Fate::Changed, Reason::Pkcs12File,
                 QLatin1String("pkcs12 ") + QLatin1String(pkcs12Name), QLatin1String(pkcs12Name));
    } else if (m_packing && credential) {
        addEntry(line, Fate::Changed, Reason::PackedIntoPkcs12, QString(), QLatin1String(pkcs12Name));
    } else if (m_kind == Kind::CertificateAndTokenKey && credential) {
        if (keyword == QLatin1String("ca") || keyword == QLatin1String("cert")) {
            const QString target =
                keyword == QLatin1String("ca") ? QStringLiteral("ca") : QStringLiteral("user");
            addEntry(line, Fate::Changed, Reason::TokenCopied, keyword + QLatin1Char(' ') + target, target);
        } else {
            addEntry(line, Fate::LeftOut, Reason::TokenSetting);
        }
    } else if (keyword == QLatin1String("auth-user-pass") ||
               keyword == QLatin1String("http-proxy-user-pass")) {
        addEntry(line, Fate::LeftOut, Reason::CredentialsAsked);
    } else {
        return false;
    }
    return true;
}

QString OvpnImport::emitMaterial(const QString& keyword, const QByteArray& bytes, const QStringList& extra,
                                 const Line& line, bool fromFile, QStringList* out)
{
    const QString fileName = fromFile ? line.tokens.value(1) : QString();
    if (credentialFate(keyword, line))
        return QString();

    const QList<QByteArray> body = bodyLines(bytes);
    bool misread = false;
    for (const QByteArray& bodyLine : body)
        misread = misread || readBack(QString::fromUtf8(bodyLine));
    QStringList params;
    for (const QString& word : extra)
        params.append(quoteWord(word));
    if (misread) {
        const bool keyFile = keyword.startsWith(QLatin1String("tls-")) || keyword == QLatin1String("secret");
        QString name = keyword + (keyFile ? QLatin1String(".key") : QLatin1String(".pem"));
        for (int n = 2; std::any_of(m_extraFiles.begin(), m_extraFiles.end(),
                                    [&](const File& file) { return file.name == name; });
             ++n)
            name = keyword + QString::number(n) + (keyFile ? QLatin1String(".key") : QLatin1String(".pem"));
        const QString written = (QStringList{keyword, name} + params).join(QLatin1Char(' '));
        if (!writeChanged(line, written, Reason::FileCopied, out, fromFile ? fileName : name))
            return QString();
        QByteArray stored = bytes;
        stored.replace("\r\n", "\n");
        m_extraFiles.push_back({name, stored});
        return written;
    }
    const QString opening = QLatin1Char('<') + keyword + QLatin1Char('>');
    out->append(opening);
    for (const QByteArray& bodyLine : body)
        out->append(QString::fromUtf8(bodyLine));
    out->append(QLatin1String("</") + keyword + QLatin1Char('>'));
    // The direction of a key file given as a parameter has its own directive for inline keys.
    if (!params.isEmpty() && (keyword == QLatin1String("tls-auth") || keyword == QLatin1String("secret")))
        out->append(QLatin1String("key-direction ") + params.first());
    if (fromFile)
        addEntry(line, Fate::Changed, Reason::FileInlined, opening, fileName);
    else
        addEntry(line, Fate::Kept, Reason::InlineBlock);
    return opening;
}

bool OvpnImport::setPkcs12Password(const QString& password, const QString& keyPassphrase)
{
    if (!m_packing)
        return true;
    m_pkcs12.clear();
    const QByteArray passphrase = keyPassphrase.toUtf8();
    const QByteArray secret = password.isEmpty() ? passphrase : password.toUtf8();
    if (secret.isEmpty())
        return fail(tr(pkcs12PasswordMissing));

    ERR_clear_error();
    BioPtr keyBio = memoryBio(m_keyPem);
    KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, passwordCallback,
                                       const_cast<QByteArray*>(&passphrase)));
    if (!key)
        return fail((m_keyEncrypted ? tr("The private key cannot be read with this passphrase (%1)")
                                    : tr("The private key cannot be read (%1)"))
                        .arg(opensslError()));
    StackPtr certs(sk_X509_new_null());
    appendCertificates(m_certPem, certs.get());
    if (sk_X509_num(certs.get()) == 0)
        return fail(tr("The certificate cannot be read"));
    CertPtr cert(sk_X509_shift(certs.get()));
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        ERR_clear_error();
        return fail(tr("The private key does not belong to the certificate"));
    }
    // The certificate file's further certificates are its chain; the CA's follow them.
    appendCertificates(m_caPem, certs.get());
    const QByteArray friendly = m_name.toUtf8();
    P12Ptr p12(PKCS12_create(secret.constData(), friendly.constData(), key.get(), cert.get(), certs.get(), 0,
                             0, 0, 0, 0));
    if (!p12)
        return fail(tr("The PKCS#12 file cannot be made (%1)").arg(opensslError()));
    BioPtr outBio(BIO_new(BIO_s_mem()));
    if (i2d_PKCS12_bio(outBio.get(), p12.get()) != 1)
        return fail(tr("The PKCS#12 file cannot be made (%1)").arg(opensslError()));
    char* data = nullptr;
    const long size = BIO_get_mem_data(outBio.get(), &data);
    m_pkcs12 = QByteArray(data, static_cast<qsizetype>(size));
    return true;
}

namespace {

ProfileFields headerFields(const QString& name, const QString& port)
{
    ProfileFields fields;
    fields.name = name;
    // The host goes in afterwards: splitServer() would cut an IPv6 address at its first ':'.
    fields.server = QStringLiteral("host:") + port;
    return fields;
}

QByteArray withHost(QByteArray header, const QString& host)
{
    header.replace("\nremote host\n", "\nremote " + host.toUtf8() + '\n');
    return header;
}

} // namespace

QByteArray OvpnImport::conf() const
{
    ProfileFields fields = headerFields(m_name, m_port);
    QByteArray header;
    switch (m_kind) {
    case Kind::Pkcs12:
        fields.pkcs12Field = QLatin1String(pkcs12Name);
        header = ProfileSave::headerText(ProfileKind::Pkcs12, fields);
        break;
    case Kind::CertificateAndTokenKey:
        fields.keyField = m_keyLabel;
        header = ProfileSave::headerText(ProfileKind::CertificateAndKey, fields);
        break;
    case Kind::UserPassword: {
        // The part both headers share: name, server and port, and no key material.
        fields.pkcs12Field = QStringLiteral("-");
        header = ProfileSave::headerText(ProfileKind::Pkcs12, fields);
        header.chop(qsizetype(sizeof("pkcs12 -\n") - 1));
        break;
    }
    }
    return withHost(header, m_host) + ProfileSave::templateMarker + m_templateText;
}

std::vector<OvpnImport::File> OvpnImport::files() const
{
    std::vector<File> result;
    result.push_back({QStringLiteral("conf"), conf()});
    if (m_kind == Kind::Pkcs12)
        result.push_back({QLatin1String(pkcs12Name), m_pkcs12});
    if (m_kind == Kind::CertificateAndTokenKey) {
        result.push_back({QStringLiteral("ca"), m_caPem});
        // The token holds the certificate; a profile's "user" file is only its fallback.
        result.push_back({QStringLiteral("user"), m_certPem});
    }
    result.insert(result.end(), m_extraFiles.begin(), m_extraFiles.end());
    return result;
}

SaveResult OvpnImport::write(const QString& rootPath) const
{
    SaveResult result;
    ProfileFields fields = headerFields(m_name, m_port);
    fields.pkcs12Field = QLatin1String(pkcs12Name);
    fields.caField = QStringLiteral("ca");
    fields.userField = QStringLiteral("user");
    fields.keyField = m_keyLabel;
    const SaveResult checked = ProfileSave::check(
        m_kind == Kind::CertificateAndTokenKey ? ProfileKind::CertificateAndKey : ProfileKind::Pkcs12,
        fields);
    if (checked.status != SaveResult::Saved)
        return checked;
    if (m_kind == Kind::Pkcs12 && m_pkcs12.isEmpty()) {
        result.status = SaveResult::MissingData;
        result.message = pkcs12PasswordMissing;
        return result;
    }

    // Assembled in a hidden directory, never listed as a profile, and renamed into place at the end.
    QDir root(rootPath);
    QString staging;
    for (int attempt = 0; attempt < 16 && staging.isEmpty(); ++attempt) {
        const QString candidate =
            QStringLiteral(".new-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        if (!root.exists(candidate) && root.mkdir(candidate))
            staging = candidate;
    }
    result.status = SaveResult::Failed;
    if (staging.isEmpty()) {
        result.reason = QStringLiteral("cannot create a directory in %1").arg(rootPath);
        return result;
    }
    const QString stagingPath = root.filePath(staging);
    for (const File& file : files()) {
        QSaveFile out(stagingPath + QLatin1Char('/') + file.name);
        // Keys and the PKCS#12 file are for the user alone; OpenVPN warns about anything wider.
        const bool ok = out.open(QIODevice::WriteOnly) &&
                        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                        out.write(file.bytes) == file.bytes.size() && out.commit();
        if (!ok) {
            result.reason = out.fileName() + QLatin1String(": ") + out.errorString();
            QDir(stagingPath).removeRecursively();
            return result;
        }
    }
    const QString dirName = ProfileSave::newProfileDirName(rootPath);
    if (!root.rename(staging, dirName)) {
        QDir(stagingPath).removeRecursively();
        result.reason = QStringLiteral("cannot create the directory %1").arg(root.filePath(dirName));
        return result;
    }
    result.status = SaveResult::Saved;
    result.dirName = dirName;
    return result;
}
