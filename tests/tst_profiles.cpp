#include "TestSupport.h"

#include "app/Language.h"
#include "app/Prompt.h"
#include "dialogs/DialogParts.h"
#include "profiles/ConfReader.h"
#include "profiles/ProfileSave.h"
#include "profiles/ProfileStore.h"
#include "profiles/RegularFile.h"
#include "profiles/VpnItem.h"

#include <QBuffer>
#include <QDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <iterator>

#include <sys/mount.h>
#include <unistd.h>

namespace {

const QByteArray marker("\n#\n# configuration template\n#\n\n");

QString dirPath(const QString& root, const QString& name)
{
    return root + QLatin1Char('/') + name;
}

ProfileFields certFields()
{
    ProfileFields f;
    f.name = QStringLiteral("Office VPN \u0105\u017c");
    f.server = QStringLiteral("vpn.example.net:443");
    f.caField = QStringLiteral("/home/u/ca.pem");
    f.userField = QStringLiteral("/home/u/user.pem");
    f.keyField = QStringLiteral("token key 1");
    f.caContents = QByteArray("-----BEGIN CERTIFICATE-----\r\nCA") + '\0' + "bytes\r\n";
    f.userContents = QByteArray(1, '\0') + "\x01\xff user cert";
    f.caReadFrom = f.caField; // as through Select
    f.userReadFrom = f.userField;
    return f;
}

ProfileFields pkcs12Fields()
{
    ProfileFields f;
    f.name = QStringLiteral("Home");
    f.server = QStringLiteral("10.0.0.1");
    f.pkcs12Field = QStringLiteral("C:/certs/me.p12");
    return f;
}

// Shows every translation lookup as "[context] source", so a test sees which context was used.
class ContextTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return QStringLiteral("[%1] %2").arg(QLatin1String(context), QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

QStringList entries(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Everything under root without following links: each path with its type, permissions and
// bytes or link target, so a comparison sees any change at all.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QByteArray mode = QByteArray::number(int(info.permissions()), 16);
        QByteArray value;
        if (info.isSymLink())
            value = "link " + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            value = "dir " + mode;
        else if (info.isFile())
            value = "file " + mode + ' ' + ScratchHome::readFile(path);
        else
            value = "other";
        out.insert(QDir(root).relativeFilePath(path), value);
    }
    return out;
}

// The renames of the save, failing where a test says.
struct RenameFaults
{
    bool noExchange = false; // as on a file system that cannot exchange directories
    QList<int> failingCalls; // 1-based
    int error = EIO;
    int calls = 0;
};
RenameFaults renameFaults;

int faultyRename(const QString& from, const QString& to, ProfileSave::RenameMode mode)
{
    ++renameFaults.calls;
    if (renameFaults.failingCalls.contains(renameFaults.calls))
        return renameFaults.error;
    if (mode == ProfileSave::RenameMode::Exchange && renameFaults.noExchange)
        return EINVAL;
    return ProfileSave::systemRename(from, to, mode);
}

struct RenameFaultScope
{
    explicit RenameFaultScope(const RenameFaults& faults)
    {
        renameFaults = faults;
        ProfileSave::setRenameFunction(&faultyRename);
    }
    ~RenameFaultScope() { ProfileSave::setRenameFunction(nullptr); }
};

// A small tmpfs mounted for one test, so a full disk is real and not simulated.
class SmallDisk
{
public:
    SmallDisk()
    {
        if (::geteuid() != 0) {
            m_skip = "mounting a small tmpfs needs root";
            return;
        }
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=64k,mode=0755") != 0) {
            m_skip = QByteArray("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    QString path() const { return m_dir.path(); }
    const QByteArray& skipReason() const { return m_skip; }
    bool mounted() const { return m_mounted; }

    // Writes a filler file until the disk has no room left.
    bool fill() const
    {
        QFile filler(path() + "/.filler");
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        return filler.error() != QFileDevice::NoError;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_skip;
    bool m_mounted = false;
};

} // namespace

Q_DECLARE_METATYPE(ProfileData)
Q_DECLARE_METATYPE(ProfileKind)
Q_DECLARE_METATYPE(ProfileFields)

class TestProfiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Prompt::setTestMode(true);
        Prompt::reset();
    }

    // ---- reading "conf" ----

    void confValue_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("value");
        QTest::newRow("keyword starts the line") << "remote host"
                                                 << "remote"
                                                 << "host";
        QTest::newRow("behind hash and space") << "# qLumarVpnName My VPN"
                                               << "qLumarVpnName"
                                               << "My VPN";
        QTest::newRow("behind semicolon") << ";remote other"
                                          << "remote"
                                          << "other";
        QTest::newRow("behind hash") << "#remote other"
                                     << "remote"
                                     << "other";
        QTest::newRow("behind tab") << "\tremote other"
                                    << "remote"
                                    << "other";
        QTest::newRow("glued to a letter before") << "xremote host"
                                                  << "remote"
                                                  << "";
        QTest::newRow("glued to a hyphen before") << "--remote host"
                                                  << "remote"
                                                  << "";
        QTest::newRow("followed by colon") << "remote: host"
                                           << "remote"
                                           << "";
        QTest::newRow("followed by a letter") << "remotes host"
                                              << "remote"
                                              << "";
        QTest::newRow("keyword alone") << "remote"
                                       << "remote"
                                       << "";
        QTest::newRow("keyword and spaces only") << "remote    "
                                                 << "remote"
                                                 << "";
        QTest::newRow("spaces and tabs before the value skipped") << "remote \t  host"
                                                                  << "remote"
                                                                  << "host";
        QTest::newRow("trailing spaces kept") << "rport 1194  "
                                              << "rport"
                                              << "1194  ";
        QTest::newRow("carriage return kept") << "rport 1194\r"
                                              << "rport"
                                              << "1194\r";
        QTest::newRow("inner spaces kept") << "remote second 443"
                                           << "remote"
                                           << "second 443";
        QTest::newRow("case matters") << "Remote host"
                                      << "remote"
                                      << "";
        QTest::newRow("only the first occurrence counts") << "# certificates: cert here"
                                                          << "cert"
                                                          << "";
        QTest::newRow("later word after a non-matching first") << "cacert ca x"
                                                               << "ca"
                                                               << "";
        QTest::newRow("no keyword") << "dev tun"
                                    << "remote"
                                    << "";
        QTest::newRow("empty line") << ""
                                    << "remote"
                                    << "";
    }
    void confValue()
    {
        QFETCH(QString, line);
        QFETCH(QString, keyword);
        QFETCH(QString, value);
        QCOMPARE(ConfReader::confValue(line, keyword), value);
    }

    // applyLine() finds every keyword in one pass; it must pick exactly what seven separate
    // confValue() searches in the fixed order would, quirks included. A file's plain ASCII lines
    // are read from their bytes, the others decoded first: both must read the same.
    void applyLineAgreesWithSeparateSearches()
    {
        const QStringList keywords = {"qLumarVpnName", "remote", "rport", "ca", "cert", "key", "pkcs12"};
        auto expected = [&](const QString& line) {
            for (int i = 0; i < keywords.size(); ++i) {
                const QString value = ConfReader::confValue(line, keywords.at(i));
                if (!value.isEmpty())
                    return qMakePair(i,
                                     i == 5 ? value.split('"', Qt::SkipEmptyParts).value(0, value) : value);
            }
            return qMakePair(-1, QString());
        };
        auto actual = [&](const QString& line) {
            ProfileData data;
            ConfReader::applyLine(line, &data);
            const QString values[] = {data.vpnName,  data.server,  data.port,      data.caCert,
                                      data.userCert, data.keyName, data.pkcs12File};
            for (int i = 0; i < keywords.size(); ++i)
                if (!values[i].isEmpty())
                    return qMakePair(i, values[i]);
            return qMakePair(-1, QString());
        };
        QStringList lines = {
            "cacert ca x",   "xremote remote h",  "rport remote h", "# key \"k\" ca c",
            "pkcs12 remote", "carport 1 rport 2", "k key",          "qLumarVpnNameX remote h",
            "remote\tca x",  "ca\u00a0x",         "reremote x",     "cert;ca x"};
        // Random lines over the keywords' own pieces and the characters the boundary rules test.
        const QStringList pieces = {"ca", "cert", "key", "rport", "remote", "pkcs12", "qLumarVpnName",
                                    "re", "r",    "c",   "k",     "p",      " ",      "\t",
                                    ";",  "#",    "x",   "\"",    "\u00a0", "\u00e9", "auth-user-pass"};
        QRandomGenerator random(1234);
        for (int n = 0; n < 20000; ++n) {
            QString line;
            for (int length = random.bounded(1, 9); length > 0; --length)
                line += pieces.at(random.bounded(pieces.size()));
            lines << line;
        }
        for (const QString& line : std::as_const(lines)) {
            QCOMPARE(actual(line), expected(line));
            const QByteArray bytes = line.toUtf8();
            if (bytes.size() < 4) // too short to hold a value: the file reader skips it
                continue;
            ProfileData viaLine;
            ConfReader::applyLine(line, &viaLine);
            const ProfileData viaFile = ConfReader::read(bytes + "\n");
            QCOMPARE(viaFile.authUserPass, viaLine.authUserPass);
            const QStringList fileValues = {viaFile.vpnName,   viaFile.server,   viaFile.port,
                                            viaFile.caCert,    viaFile.userCert, viaFile.keyName,
                                            viaFile.pkcs12File};
            const QStringList lineValues = {viaLine.vpnName,   viaLine.server,   viaLine.port,
                                            viaLine.caCert,    viaLine.userCert, viaLine.keyName,
                                            viaLine.pkcs12File};
            QCOMPARE(fileValues, lineValues);
        }
    }

    void readProfile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ProfileData>("expected");

        const QByteArray certHeader = "#\n# qLumarVpnName Office\n#\nremote vpn.example.net\nrport 443\nca "
                                      "ca\ncert user\nkey \"my key\"\n";
        const ProfileData cert{"Office", "vpn.example.net", "443", "ca", "user", "my key", ""};
        const QByteArray pkcsHeader =
            "#\n# qLumarVpnName Home\n#\nremote 10.0.0.1\nrport 1194\npkcs12 /p/me.p12\n";
        const ProfileData pkcs{"Home", "10.0.0.1", "1194", "", "", "", "/p/me.p12"};

        QTest::newRow("certificate header read back exactly") << certHeader << cert;
        QTest::newRow("pkcs12 header read back exactly") << pkcsHeader << pkcs;
        QTest::newRow("marker lines match nothing") << certHeader + marker << cert;

        ProfileData p = cert;
        p.server = "second 443";
        QTest::newRow("template remote overrides the header") << certHeader + marker + "remote second 443\n"
                                                              << p;
        p.server = "other";
        QTest::newRow("commented remote behind semicolon counts") << certHeader + ";remote other\n" << p;
        QTest::newRow("commented remote behind hash counts") << certHeader + "# remote other\n" << p;
        QTest::newRow("remote alone changes nothing") << certHeader + "remote\nremote   \n" << cert;
        QTest::newRow("glued remote changes nothing")
            << certHeader + "xremote other\nremote:other\n--remote other\n"
            << cert;

        QTest::newRow("ca word in a pkcs12 path takes the line")
            << QByteArray("pkcs12 /x ca C:/my ca file.p12\n")
            << ProfileData{"", "", "", "C:/my ca file.p12", "", "", ""};
        QTest::newRow("cert only as a longer word first gives nothing")
            << QByteArray("# certificates go here: cert user\n") << ProfileData{};

        ProfileData key;
        key.keyName = "first";
        QTest::newRow("key of two quoted words gives the first")
            << QByteArray("key \"first\" \"second\"\n") << key;
        key.keyName = "plain name";
        QTest::newRow("unquoted key taken unchanged") << QByteArray("key plain name\n") << key;
        key.keyName = "\"\"";
        QTest::newRow("key of only quotes keeps them") << QByteArray("key \"\"\n") << key;

        ProfileData last;
        last.server = "host";
        QTest::newRow("last line without line feed read whole") << QByteArray("dev tun\nremote host") << last;
        last.server = "host\r";
        QTest::newRow("carriage return stays in the value") << QByteArray("remote host\r\n") << last;
        last.server = "later";
        QTest::newRow("later line replaces earlier") << QByteArray("remote first\nremote later\n") << last;
        last.server = QString(QChar::ReplacementCharacter) + "x";
        QTest::newRow("invalid utf-8 decoded with replacement") << QByteArray("remote \xffx\n") << last;
        last.server = "h";
        QTest::newRow("nul bytes do not end the line") << QByteArray("junk") + '\0' + "junk\nremote h\n"
                                                       << last;
        ProfileData spaces;
        spaces.vpnName = QString();
        QTest::newRow("name of spaces reads as empty") << QByteArray("# qLumarVpnName    \n") << spaces;
        QTest::newRow("empty file") << QByteArray() << ProfileData{};
    }
    void readProfile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(ProfileData, expected);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const ProfileData got = ConfReader::read(&buffer);
        QCOMPARE(got.vpnName, expected.vpnName);
        QCOMPARE(got.server, expected.server);
        QCOMPARE(got.port, expected.port);
        QCOMPARE(got.caCert, expected.caCert);
        QCOMPARE(got.userCert, expected.userCert);
        QCOMPARE(got.keyName, expected.keyName);
        QCOMPARE(got.pkcs12File, expected.pkcs12File);
    }

    // Hostile and random contents: the reader must not crash, must keep its values within the
    // file, and must still find a line that follows the junk.
    void readerSurvivesHostileContent_data()
    {
        QTest::addColumn<QByteArray>("junk");
        QRandomGenerator random(20240611);
        for (int i = 0; i < 20; ++i) {
            QByteArray bytes(int(random.bounded(1, 70000)), Qt::Uninitialized);
            for (char& c : bytes)
                c = char(random.bounded(256));
            QTest::addRow("random bytes %d", i) << bytes;
        }
        static const char* const pieces[] = {
            "remote", "rport", "ca", "cert", "key", "pkcs12", "qLumarVpnName", " ", "\t",
            "\"",     "#",     ";",  "\r",   "\n",  "\xc3",   "\xff",          "x"};
        for (int i = 0; i < 20; ++i) {
            QByteArray bytes;
            for (int n = 0; n < 5000; ++n)
                bytes += pieces[random.bounded(int(std::size(pieces)))];
            QTest::addRow("keyword soup %d", i) << bytes;
        }
        QTest::newRow("invalid utf-8 only") << QByteArray(100000, '\xfe');
        QTest::newRow("truncated multibyte sequences") << QByteArray("remote \xe2\x82\nkey \"\xf0\x9f\"\n");
        QTest::newRow("one 4 MB line") << "remote " + QByteArray(4 << 20, 'a');
        QTest::newRow("only carriage returns") << QByteArray(1 << 20, '\r');
        QTest::newRow("a million empty lines") << QByteArray(1 << 20, '\n');
    }
    void readerSurvivesHostileContent()
    {
        QFETCH(QByteArray, junk);
        const ProfileData data = ConfReader::read(junk + "\n# qLumarVpnName after the junk\n");
        QCOMPARE(data.vpnName, QStringLiteral("after the junk"));
        for (const QString* field :
             {&data.server, &data.port, &data.caCert, &data.userCert, &data.keyName, &data.pkcs12File})
            QVERIFY(field->size() <= junk.size());
    }

    void readerTakes50MegabyteFiles_data()
    {
        QTest::addColumn<QByteArray>("pattern"); // repeated up to 50 MB
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("serverLength");
        QTest::newRow("one line, no line feed") << QByteArray("h") << QByteArray("remote ") << (50 << 20);
        QTest::newRow("only line feeds") << QByteArray("\n") << QByteArray() << 0;
        QTest::newRow("short directives")
            << QByteArray("dev tun\ncipher AES-256\nremote h\n") << QByteArray() << 1;
    }
    void readerTakes50MegabyteFiles()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, head);
        QFETCH(int, serverLength);
        QTemporaryDir dir;
        const QString conf = dirPath(dir.path(), "p/conf");
        QVERIFY(ScratchHome::writeFile(conf, head + pattern.repeated((50 << 20) / pattern.size())));
        VpnItem item(conf, "p");
        QCOMPARE(item.server().size(), serverLength);
        QCOMPARE(item.text(), QStringLiteral("p"));
    }

    // ---- the profile record ----

    void vpnItem_data()
    {
        QTest::addColumn<QByteArray>("conf"); // empty: no file
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pkcs12");
        QTest::newRow("named certificate profile")
            << QByteArray("# qLumarVpnName Work\nremote h\nca ca\n") << "Work" << false;
        QTest::newRow("named pkcs12 profile")
            << QByteArray("# qLumarVpnName Home\npkcs12 /a.p12\n") << "Home" << true;
        QTest::newRow("no conf: directory name, certificate kind") << QByteArray() << "00ab" << false;
        QTest::newRow("no name line: directory name") << QByteArray("remote h\n") << "00ab" << false;
        QTest::newRow("pkcs12 path alone decides the kind")
            << QByteArray("ca ca\ncert user\nkey \"k\"\npkcs12 x\n") << "00ab" << true;
    }
    void vpnItem()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QString, text);
        QFETCH(bool, pkcs12);
        QTemporaryDir dir;
        const QString confPath = dirPath(dir.path(), "00ab/conf");
        QDir(dir.path()).mkdir("00ab");
        if (!conf.isEmpty())
            QVERIFY(ScratchHome::writeFile(confPath, conf));
        QListWidget list;
        auto* item = new VpnItem(confPath, "00ab", &list);
        QCOMPARE(list.count(), 1);
        QCOMPARE(item->type(), int(QListWidgetItem::Type));
        QCOMPARE(item->text(), text);
        QCOMPARE(item->displayName(), text);
        QCOMPARE(item->dirName(), QStringLiteral("00ab"));
        QCOMPARE(item->confPath(), confPath);
        QCOMPARE(item->isPKCS12(), pkcs12);
        QVERIFY(!item->isConnected());
        QVERIFY(!item->isBlocked());
        QCOMPARE(item->icon().cacheKey(), VpnItem::idleIcon().cacheKey());
        QVERIFY(!VpnItem::idleIcon().isNull());
    }

    // ---- saving ----

    void splitServer_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::newRow("no colon: default port") << "vpn.example.net"
                                                << "vpn.example.net"
                                                << "1194";
        QTest::newRow("host and port") << "vpn.example.net:443"
                                       << "vpn.example.net"
                                       << "443";
        QTest::newRow("trailing colon: empty port") << "host:"
                                                    << "host"
                                                    << "";
        QTest::newRow("leading colon: empty host") << ":443"
                                                   << ""
                                                   << "443";
        QTest::newRow("two colons: third piece dropped") << "a:b:c"
                                                         << "a"
                                                         << "b";
        QTest::newRow("nothing trimmed") << " h : 1 "
                                         << " h "
                                         << " 1 ";
    }
    void splitServer()
    {
        QFETCH(QString, server);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QString gotHost, gotPort;
        ProfileSave::splitServer(server, &gotHost, &gotPort);
        QCOMPARE(gotHost, host);
        QCOMPARE(gotPort, port);
    }

    void check_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<ProfileFields>("fields");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto cert = ProfileKind::CertificateAndKey;
        const auto pkcs = ProfileKind::Pkcs12;

        ProfileFields f = certFields();
        QTest::newRow("certificate: all filled") << cert << f << int(SaveResult::Saved) << "";
        f.name = "   ";
        QTest::newRow("name of spaces counts as filled") << cert << f << int(SaveResult::Saved) << "";
        f = ProfileFields();
        QTest::newRow("certificate: all empty, name first")
            << cert << f << int(SaveResult::MissingData) << "Enter VPN connection name!";
        f.name = "n";
        QTest::newRow("certificate: server second")
            << cert << f << int(SaveResult::MissingData) << "Enter VPN server name or IP address!";
        f.server = "s";
        QTest::newRow("certificate: CA third")
            << cert << f << int(SaveResult::MissingData) << "Select CA certificate file!";
        f.caField = "c";
        QTest::newRow("certificate: user certificate fourth")
            << cert << f << int(SaveResult::MissingData) << "Select User certificate file!";
        f.userField = "u";
        QTest::newRow("certificate: key fifth")
            << cert << f << int(SaveResult::MissingData) << "Select private key file!";
        f.keyField = "k";
        f.caReadFrom = "c"; // selected files that were empty
        f.userReadFrom = "u";
        QTest::newRow("certificate: empty contents pass") << cert << f << int(SaveResult::Saved) << "";

        f = ProfileFields();
        f.name = "n";
        f.server = "s";
        f.caField = "c"; // ignored by the PKCS#12 kind
        QTest::newRow("pkcs12: PKCS#12 third")
            << pkcs << f << int(SaveResult::MissingData) << "Select PKCS#12 certificate file!";
        f.pkcs12Field = "p";
        QTest::newRow("pkcs12: all filled") << pkcs << f << int(SaveResult::Saved) << "";

        f = certFields();
        f.name = "x\nremote evil.example 1";
        QTest::newRow("line feed in name refused")
            << cert << f << int(SaveResult::Refused) << "VPN connection name must not contain line breaks!";
        f = certFields();
        f.server = "host\r:443";
        QTest::newRow("carriage return in server refused")
            << cert << f << int(SaveResult::Refused) << "VPN server name must not contain line breaks!";
        f = certFields();
        f.keyField = "k\"\nup /bin/evil";
        QTest::newRow("line feed in key refused")
            << cert << f << int(SaveResult::Refused) << "Private key name must not contain line breaks!";
        f = certFields();
        f.caField = "a\nb"; // a path that is never written into conf
        f.caReadFrom = f.caField;
        QTest::newRow("line break in a file field not written passes")
            << cert << f << int(SaveResult::Saved) << "";
        f = pkcs12Fields();
        f.pkcs12Field = "/a.p12\nscript-security 2";
        QTest::newRow("line feed in pkcs12 path refused")
            << pkcs << f << int(SaveResult::Refused)
            << "PKCS#12 certificate file path must not contain line breaks!";
        f = certFields();
        f.name = QString();
        f.server = "a\nb";
        QTest::newRow("missing data reported before a refusal")
            << cert << f << int(SaveResult::MissingData) << "Enter VPN connection name!";
    }
    void check()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(ProfileFields, fields);
        QFETCH(int, status);
        QFETCH(QString, message);
        ScratchHome home;
        const SaveResult result = ProfileSave::save(kind, fields, QString(), home.path());
        QCOMPARE(int(result.status), status);
        QCOMPARE(QString::fromLatin1(result.message), message);
        // Only a save that passes the check writes anything.
        QCOMPARE(entries(home.path()).isEmpty(), status != SaveResult::Saved);
    }

    void newCertificateProfileRoundTrip()
    {
        QTemporaryDir root;
        ProfileFields f = certFields();
        f.templateContents = QByteArray("remote backup.example.net 1195\r\nverb 4\n\xff") + '\0' + "tail";
        const SaveResult result =
            ProfileSave::save(ProfileKind::CertificateAndKey, f, QString(), root.path());
        QCOMPARE(int(result.status), int(SaveResult::Saved));
        QCOMPARE(result.dirName, QStringLiteral("0000"));
        const QString dir = dirPath(root.path(), "0000");
        QCOMPARE(entries(dir), QStringList({"ca", "conf", "user"}));
        const QByteArray expected =
            "#\n# qLumarVpnName Office VPN \xc4\x85\xc5\xbc\n#\nremote vpn.example.net\n"
            "rport 443\nca ca\ncert user\nkey \"token key 1\"\n" +
            marker + f.templateContents;
        QCOMPARE(ScratchHome::readFile(dir + "/conf"), expected);
        QCOMPARE(ScratchHome::readFile(dir + "/ca"), f.caContents);
        QCOMPARE(ScratchHome::readFile(dir + "/user"), f.userContents);
        QCOMPARE(entries(root.path()), QStringList({"0000"})); // no staging leftovers

        const VpnItem item(dir + "/conf", "0000");
        QCOMPARE(item.vpnName(), f.name);
        QCOMPARE(item.server(), QStringLiteral("backup.example.net 1195\r")); // the template wins
        QCOMPARE(item.port(), QStringLiteral("443"));
        QCOMPARE(item.caCert(), QStringLiteral("ca"));
        QCOMPARE(item.userCert(), QStringLiteral("user"));
        QCOMPARE(item.keyName(), QStringLiteral("token key 1"));
        QVERIFY(!item.isPKCS12());
    }

    void newPkcs12ProfileRoundTrip()
    {
        QTemporaryDir root;
        ProfileFields f = pkcs12Fields();
        f.caContents = "never written";
        const SaveResult result = ProfileSave::save(ProfileKind::Pkcs12, f, QString(), root.path());
        QCOMPARE(int(result.status), int(SaveResult::Saved));
        const QString dir = dirPath(root.path(), result.dirName);
        QCOMPARE(entries(dir), QStringList({"conf"}));
        // No template: the marker still ends the file.
        QCOMPARE(ScratchHome::readFile(dir + "/conf"),
                 "#\n# qLumarVpnName Home\n#\nremote 10.0.0.1\nrport 1194\npkcs12 C:/certs/me.p12\n" +
                     marker);
        const VpnItem item(dir + "/conf", result.dirName);
        QCOMPARE(item.vpnName(), f.name);
        QCOMPARE(item.server(), f.server);
        QCOMPARE(item.port(), QStringLiteral("1194"));
        QCOMPARE(item.pkcs12File(), f.pkcs12Field);
        QVERIFY(item.isPKCS12());
    }

    void placeMarkersInValuesStayAsTyped()
    {
        ProfileFields f = pkcs12Fields();
        f.name = "100%2 %1";
        f.server = "%3:%4";
        QCOMPARE(ProfileSave::headerText(ProfileKind::Pkcs12, f),
                 QByteArray("#\n# qLumarVpnName 100%2 %1\n#\nremote %3\nrport %4\npkcs12 C:/certs/me.p12\n"));
    }

    void editKeepsTemplateSection_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<QByteArray>("oldConf");
        QTest::addColumn<QByteArray>("kept");
        const QByteArray tmpl = QByteArray("dev tun\r\nremote x 1\n\x80\x81 no final line feed");
        const QByteArray oldHeader =
            "#\n# qLumarVpnName Old\n#\nremote old\nrport 1\nca ca\ncert user\nkey \"o\"\n";
        for (auto kind : {ProfileKind::CertificateAndKey, ProfileKind::Pkcs12}) {
            const char* k = kind == ProfileKind::Pkcs12 ? "pkcs12" : "certificate";
            QTest::addRow("%s: template bytes kept", k) << kind << oldHeader + marker + tmpl << marker + tmpl;
            QTest::addRow("%s: no marker, header only", k) << kind << oldHeader + tmpl << QByteArray();
            QTest::addRow("%s: marker at the very start", k) << kind << marker + "x" << marker + "x";
            QTest::addRow("%s: first marker and all after it", k)
                << kind << "a" + marker + "b" + marker + "c" << marker + "b" + marker + "c";
            QTest::addRow("%s: missing conf", k) << kind << QByteArray() << QByteArray();
        }
    }
    void editKeepsTemplateSection()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(QByteArray, oldConf);
        QFETCH(QByteArray, kept);
        QTemporaryDir root;
        const QString dir = dirPath(root.path(), "0007");
        QVERIFY(QDir(root.path()).mkdir("0007"));
        if (!oldConf.isEmpty())
            QVERIFY(ScratchHome::writeFile(dir + "/conf", oldConf));
        for (const char* name : {"ca", "user", "ca.cert", "user.cert"})
            QVERIFY(ScratchHome::writeFile(dir + '/' + name, QByteArray("old ") + name));

        ProfileFields f = kind == ProfileKind::Pkcs12 ? pkcs12Fields() : certFields();
        f.templateContents = "an edit never writes this";
        const SaveResult result = ProfileSave::save(kind, f, "0007", root.path());
        QCOMPARE(int(result.status), int(SaveResult::Saved));
        QCOMPARE(result.dirName, QStringLiteral("0007"));
        QCOMPARE(ScratchHome::readFile(dir + "/conf"), ProfileSave::headerText(kind, f) + kept);
        if (kind == ProfileKind::CertificateAndKey) {
            QCOMPARE(ScratchHome::readFile(dir + "/ca"), f.caContents);
            QCOMPARE(ScratchHome::readFile(dir + "/user"), f.userContents);
            QCOMPARE(entries(dir), QStringList({"ca", "conf", "user"}));
        } else {
            // The PKCS#12 edit replaces only conf.
            QCOMPARE(entries(dir), QStringList({"ca", "ca.cert", "conf", "user", "user.cert"}));
            QCOMPARE(ScratchHome::readFile(dir + "/ca"), QByteArray("old ca"));
        }
        QCOMPARE(entries(root.path()), QStringList({"0007"}));
    }

    void newProfileDirName_data()
    {
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty root") << QStringList() << QStringList() << "0000";
        QTest::newRow("gap is filled") << QStringList({"0000", "0002"}) << QStringList() << "0001";
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << QString::number(i).rightJustified(4, '0');
        QTest::newRow("ten used gives hex a") << ten << QStringList() << "000a";
        QStringList sixteen;
        for (int i = 0; i < 16; ++i)
            sixteen << QString::number(i, 16).rightJustified(4, '0');
        QTest::newRow("10 counts as sixteen") << sixteen + QStringList("10") << QStringList() << "0011";
        QTest::newRow("upper case hex counts")
            << QStringList({"0000", "1", "0002", "3", "000004"}) << QStringList() << "0005";
        QTest::newRow("non-hex names ignored")
            << QStringList({"lang", "office", "0x", "g000", "-"}) << QStringList() << "0000";
        QTest::newRow("files do not count") << QStringList() << QStringList({"lang", "0001"}) << "0000";
        QTest::newRow("hidden directories do not count") << QStringList({".0000"}) << QStringList() << "0000";
        QTest::newRow("a large number does not hide the gap")
            << QStringList({"0000", "ffffffff"}) << QStringList() << "0001";
    }
    void newProfileDirName()
    {
        QFETCH(QStringList, dirs);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir root;
        for (const QString& d : dirs)
            QVERIFY(QDir(root.path()).mkdir(d));
        for (const QString& f : files)
            QVERIFY(ScratchHome::writeFile(dirPath(root.path(), f), "x"));
        QCOMPARE(ProfileSave::newProfileDirName(root.path()), expected);
    }

    void profileDirectoriesInNameOrderIgnoringCase()
    {
        QTemporaryDir root;
        const QStringList dirs{"000b",   "000A",       "0001",   "000C",   "Zulu",
                               "office", "\u00c4rger", "arbeit", ".hidden"};
        for (const QString& d : dirs)
            QVERIFY(QDir(root.path()).mkdir(d));
        QVERIFY(ScratchHome::writeFile(root.path() + "/lang", "pl"));
        const QStringList expected{"0001", "000A", "000b", "000C", "arbeit", "office", "Zulu", "\u00c4rger"};
        QCOMPARE(ProfileStore::profileDirNames(root.path()), expected);
        // The toolkit's own directory order, which stored setups have always been shown in.
        QCOMPARE(
            QDir(root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase),
            expected);
    }

    void newProfilesGetConsecutiveDirectories()
    {
        QTemporaryDir root;
        QStringList names;
        for (int i = 0; i < 3; ++i)
            names << ProfileSave::save(ProfileKind::Pkcs12, pkcs12Fields(), QString(), root.path()).dirName;
        QCOMPARE(names, QStringList({"0000", "0001", "0002"}));
        QCOMPARE(entries(root.path()), names);
    }

    // A write that cannot complete leaves every old file as it was and reports why.
    void failedEditKeepsOldFiles_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<QString>("obstacle"); // a directory standing where a file is written
        QTest::newRow("certificate: ca is a directory") << ProfileKind::CertificateAndKey << "ca";
        QTest::newRow("certificate: user is a directory") << ProfileKind::CertificateAndKey << "user";
        QTest::newRow("certificate: conf is a directory") << ProfileKind::CertificateAndKey << "conf";
        QTest::newRow("pkcs12: conf is a directory") << ProfileKind::Pkcs12 << "conf";
    }
    void failedEditKeepsOldFiles()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(QString, obstacle);
        QTemporaryDir root;
        const QString dir = dirPath(root.path(), "0000");
        QVERIFY(QDir(root.path()).mkdir("0000"));
        QMap<QString, QByteArray> old{{"conf", "# qLumarVpnName Old\n" + marker + "verb 3\n"},
                                      {"ca", "old ca"},
                                      {"user", "old user"},
                                      {"ca.cert", "legacy"}};
        old.remove(obstacle);
        for (auto it = old.cbegin(); it != old.cend(); ++it)
            QVERIFY(ScratchHome::writeFile(dir + '/' + it.key(), it.value()));
        QVERIFY(QDir(dir).mkdir(obstacle));
        const QStringList before = entries(dir);

        const ProfileFields f = kind == ProfileKind::Pkcs12 ? pkcs12Fields() : certFields();
        const SaveResult result = ProfileSave::save(kind, f, "0000", root.path());
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        QVERIFY(!result.reason.isEmpty());
        QCOMPARE(entries(dir), before); // no temporary files left behind
        for (auto it = old.cbegin(); it != old.cend(); ++it)
            QCOMPARE(ScratchHome::readFile(dir + '/' + it.key()), it.value());
    }

    void failedEditOfVanishedProfileCreatesNothing()
    {
        QTemporaryDir root;
        QVERIFY(ScratchHome::writeFile(dirPath(root.path(), "0001"), "a file, not a profile"));
        for (const char* name : {"0000", "0001"}) {
            const SaveResult result = ProfileSave::save(ProfileKind::CertificateAndKey, certFields(),
                                                        QString::fromLatin1(name), root.path());
            QCOMPARE(int(result.status), int(SaveResult::Failed));
        }
        QCOMPARE(entries(root.path()), QStringList({"0001"}));
        QCOMPARE(ScratchHome::readFile(dirPath(root.path(), "0001")), QByteArray("a file, not a profile"));
    }

    void failedNewProfileLeavesNothingBehind()
    {
        QTemporaryDir home;
        // A file holding the chosen name: files do not count as used names, so the save picks
        // "0000" and cannot create the directory.
        const QString root = dirPath(home.path(), "root");
        QVERIFY(ScratchHome::writeFile(root + "/0000", "stray file"));
        SaveResult result = ProfileSave::save(ProfileKind::CertificateAndKey, certFields(), QString(), root);
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        QVERIFY(result.reason.contains("0000"));
        QCOMPARE(entries(root), QStringList({"0000"}));
        QCOMPARE(ScratchHome::readFile(root + "/0000"), QByteArray("stray file"));

        // A root that is not there.
        result = ProfileSave::save(ProfileKind::Pkcs12, pkcs12Fields(), QString(), home.path() + "/missing");
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        QVERIFY(!QFileInfo::exists(home.path() + "/missing"));
    }

    // ---- faults of real machines ----

    // A full disk makes every save fail with the system's own reason and changes nothing.
    void fullDiskFailsAndChangesNothing_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<bool>("edit");
        QTest::newRow("new certificate profile") << ProfileKind::CertificateAndKey << false;
        QTest::newRow("new PKCS#12 profile") << ProfileKind::Pkcs12 << false;
        QTest::newRow("certificate edit") << ProfileKind::CertificateAndKey << true;
        QTest::newRow("PKCS#12 edit") << ProfileKind::Pkcs12 << true;
    }
    void fullDiskFailsAndChangesNothing()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(bool, edit);
        SmallDisk disk;
        if (!disk.mounted())
            QSKIP(disk.skipReason().constData());
        const QString root = disk.path();
        if (edit) {
            for (const char* name : {"conf", "ca", "user"})
                QVERIFY(ScratchHome::writeFile(root + "/0000/" + name,
                                               QByteArray("old ") + name + "\n" + marker + "verb 3\n"));
        }
        QVERIFY(disk.fill());
        const QMap<QString, QByteArray> before = snapshot(root);

        const ProfileFields f = kind == ProfileKind::Pkcs12 ? pkcs12Fields() : certFields();
        const SaveResult result = ProfileSave::save(kind, f, edit ? "0000" : "", root);
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        QVERIFY2(result.reason.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                 qPrintable(result.reason));
        QCOMPARE(snapshot(root), before);
    }

    // An edit is all or nothing: whichever rename fails, the old profile stays as it was, and
    // when none fails, the files the save does not write are kept.
    void editSwapsWholeDirectory_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<bool>("noExchange");
        QTest::addColumn<QList<int>>("failingCalls");
        for (auto kind : {ProfileKind::CertificateAndKey, ProfileKind::Pkcs12}) {
            const char* k = kind == ProfileKind::Pkcs12 ? "pkcs12" : "certificate";
            QTest::addRow("%s: exchanged", k) << kind << false << QList<int>();
            QTest::addRow("%s: exchange fails", k) << kind << false << QList<int>({1});
            QTest::addRow("%s: renamed without exchange", k) << kind << true << QList<int>();
            QTest::addRow("%s: moving the old one aside fails", k) << kind << true << QList<int>({2});
            QTest::addRow("%s: moving the new one in fails", k) << kind << true << QList<int>({3});
        }
    }
    void editSwapsWholeDirectory()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(bool, noExchange);
        QFETCH(QList<int>, failingCalls);
        QTemporaryDir root;
        QTemporaryDir outside;
        QVERIFY(ScratchHome::writeFile(outside.path() + "/target", "outside"));
        const QString dir = dirPath(root.path(), "0000");
        QVERIFY(ScratchHome::writeFile(dir + "/conf", "# qLumarVpnName Old\n" + marker + "verb 3\n"));
        for (const char* name : {"ca", "user", "ca.cert", "notes.txt", "extra/deeper/x"})
            QVERIFY(ScratchHome::writeFile(dir + '/' + name, QByteArray("old ") + name));
        QVERIFY(QFile::setPermissions(dir + "/ca", QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::link(outside.path() + "/target", dir + "/link"));
        const QMap<QString, QByteArray> before = snapshot(root.path());

        RenameFaults faults;
        faults.noExchange = noExchange;
        faults.failingCalls = failingCalls;
        const RenameFaultScope scope(faults);
        const ProfileFields f = kind == ProfileKind::Pkcs12 ? pkcs12Fields() : certFields();
        const SaveResult result = ProfileSave::save(kind, f, "0000", root.path());
        QCOMPARE(ScratchHome::readFile(outside.path() + "/target"), QByteArray("outside"));
        if (!failingCalls.isEmpty()) {
            QCOMPARE(int(result.status), int(SaveResult::Failed));
            QVERIFY2(result.reason.contains(QString::fromLocal8Bit(std::strerror(EIO))),
                     qPrintable(result.reason));
            QCOMPARE(snapshot(root.path()), before);
            return;
        }
        QCOMPARE(int(result.status), int(SaveResult::Saved));
        // Same type and permissions, new bytes.
        auto withBytes = [&](const QString& key, const QByteArray& bytes) {
            const QByteArray& old = before[key];
            return old.left(old.indexOf(' ', 5) + 1) + bytes;
        };
        QMap<QString, QByteArray> expected = before;
        expected["0000/conf"] =
            withBytes("0000/conf", ProfileSave::headerText(kind, f) + marker + "verb 3\n");
        if (kind == ProfileKind::CertificateAndKey) {
            expected.remove("0000/ca.cert");
            expected["0000/ca"] = withBytes("0000/ca", f.caContents);
            expected["0000/user"] = withBytes("0000/user", f.userContents);
        }
        QCOMPARE(snapshot(root.path()), expected);
    }

    void failedRestoreKeepsOldProfileAside()
    {
        QTemporaryDir root;
        const QString dir = dirPath(root.path(), "0000");
        QVERIFY(ScratchHome::writeFile(dir + "/conf", "old conf"));
        QVERIFY(ScratchHome::writeFile(dir + "/notes", "old notes"));
        QMap<QString, QByteArray> old;
        const QMap<QString, QByteArray> before = snapshot(root.path());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            old.insert(it.key().mid(5), it.value());

        RenameFaults faults;
        faults.noExchange = true;
        faults.failingCalls = {3, 4}; // the new one cannot move in, the old one cannot move back
        const RenameFaultScope scope(faults);
        const SaveResult result = ProfileSave::save(ProfileKind::Pkcs12, pkcs12Fields(), "0000", root.path());
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        const QStringList left = entries(root.path());
        QCOMPARE(left.size(), 1);
        QVERIFY(left.first().startsWith(".old-"));
        QVERIFY2(result.reason.contains(left.first()), qPrintable(result.reason));
        QMap<QString, QByteArray> aside;
        const QMap<QString, QByteArray> after = snapshot(root.path());
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            aside.insert(it.key().mid(left.first().size() + 1), it.value());
        QCOMPARE(aside, old);
    }

    void failedRenameOfNewProfileLeavesNothing_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::newRow("certificate") << ProfileKind::CertificateAndKey;
        QTest::newRow("pkcs12") << ProfileKind::Pkcs12;
    }
    void failedRenameOfNewProfileLeavesNothing()
    {
        QFETCH(ProfileKind, kind);
        QTemporaryDir root;
        RenameFaults faults;
        faults.failingCalls = {1};
        const RenameFaultScope scope(faults);
        const ProfileFields f = kind == ProfileKind::Pkcs12 ? pkcs12Fields() : certFields();
        const SaveResult result = ProfileSave::save(kind, f, QString(), root.path());
        QCOMPARE(int(result.status), int(SaveResult::Failed));
        QVERIFY(result.reason.contains("0000"));
        QCOMPARE(entries(root.path()), QStringList());
    }

    // Whatever stands where conf, a certificate copy or lang is read, only a regular file of
    // bounded size is read; the rest counts as missing, without hanging or exhausting memory.
    void irregularFilesCountAsMissing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("editStatus"); // an edit of a profile whose conf is this
        QTest::newRow("FIFO") << "fifo" << int(SaveResult::Saved);
        QTest::newRow("link to /dev/zero") << "zero" << int(SaveResult::Saved);
        QTest::newRow("directory") << "directory" << int(SaveResult::Failed);
        QTest::newRow("one byte over the cap") << "oversize" << int(SaveResult::Failed);
    }
    void irregularFilesCountAsMissing()
    {
        QFETCH(QString, what);
        QFETCH(int, editStatus);
        QTemporaryDir root;
        const QString dir = dirPath(root.path(), "0000");
        QVERIFY(QDir(root.path()).mkdir("0000"));
        std::vector<std::unique_ptr<FifoGuard>> fifos;
        auto make = [&](const QString& path, qint64 cap) {
            if (what == "fifo") {
                fifos.push_back(std::make_unique<FifoGuard>(path));
                return fifos.back()->isValid();
            }
            if (what == "zero")
                return QFile::link("/dev/zero", path);
            if (what == "directory")
                return QDir().mkdir(path);
            QFile file(path); // sparse: costs no disk
            return file.open(QIODevice::WriteOnly) && file.resize(cap + 1);
        };
        QVERIFY(make(dir + "/conf", ConfReader::confLimit));
        QVERIFY(make(dir + "/ca", RegularFile::defaultLimit));
        QVERIFY(make(root.path() + "/lang", RegularFile::defaultLimit));

        const VpnItem item(dir + "/conf", "0000");
        QCOMPARE(item.text(), QStringLiteral("0000"));
        QCOMPARE(item.server(), QString());
        QString reason;
        QVERIFY(!RegularFile::read(dir + "/ca", RegularFile::defaultLimit, &reason));
        QVERIFY(!reason.isEmpty());
        bool ok = true;
        QCOMPARE(DialogParts::readWholeFile(dir + "/ca", &ok), QByteArray());
        QVERIFY(!ok);
        appLanguage = QStringLiteral("unchanged");
        QVERIFY(!Language::readLanguageFile(root.path() + "/lang"));
        QCOMPARE(appLanguage, QStringLiteral("unchanged"));
        appLanguage.clear();
        // Nor is anything but a regular file written over at exit.
        QCOMPARE(Language::writeLanguageFile(root.path() + "/lang"), what == "oversize");

        const SaveResult result =
            ProfileSave::save(ProfileKind::CertificateAndKey, certFields(), "0000", root.path());
        QCOMPARE(int(result.status), editStatus);
        if (editStatus == SaveResult::Saved) {
            QVERIFY(QFileInfo(dir + "/conf").isFile());
            QCOMPARE(ScratchHome::readFile(dir + "/conf"),
                     ProfileSave::headerText(ProfileKind::CertificateAndKey, certFields()));
        }
        for (const auto& fifo : fifos)
            QVERIFY2(!fifo->released(), "a FIFO was opened for reading and blocked");
    }

    void regularFilesUpToTheCapAreRead()
    {
        QTemporaryDir root;
        const QString path = root.path() + "/at-cap";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(RegularFile::defaultLimit));
        file.close();
        QCOMPARE(RegularFile::read(path).value_or(QByteArray()).size(), RegularFile::defaultLimit);
        // A link to a regular file is read through.
        QVERIFY(ScratchHome::writeFile(root.path() + "/real", "pl"));
        QVERIFY(QFile::link(root.path() + "/real", root.path() + "/lang"));
        QVERIFY(Language::readLanguageFile(root.path() + "/lang"));
        QCOMPARE(appLanguage, QStringLiteral("pl"));
        appLanguage.clear();
    }

    // A certificate field that names a file not read through Select is read at Save.
    void typedCertificatePathsAreReadAtSave_data()
    {
        QTest::addColumn<QString>("file"); // what stands at the typed CA path
        QTest::addColumn<bool>("saved");
        QTest::newRow("readable file is copied") << "readable" << true;
        QTest::newRow("missing file refused") << "missing" << false;
        QTest::newRow("empty file refused") << "empty" << false;
        QTest::newRow("FIFO refused") << "fifo" << false;
    }
    void typedCertificatePathsAreReadAtSave()
    {
        QFETCH(QString, file);
        QFETCH(bool, saved);
        QTemporaryDir root;
        QTemporaryDir files;
        const QString typed = files.path() + "/typed ca.pem";
        std::unique_ptr<FifoGuard> fifo;
        if (file == "readable")
            QVERIFY(ScratchHome::writeFile(typed, "typed ca"));
        else if (file == "empty")
            QVERIFY(ScratchHome::writeFile(typed, ""));
        else if (file == "fifo")
            fifo = std::make_unique<FifoGuard>(typed);
        ProfileFields f = certFields();
        f.caField = typed; // the contents still are those of the file read before
        const SaveResult result =
            ProfileSave::save(ProfileKind::CertificateAndKey, f, QString(), root.path());
        if (saved) {
            QCOMPARE(int(result.status), int(SaveResult::Saved));
            QCOMPARE(ScratchHome::readFile(root.path() + "/0000/ca"), QByteArray("typed ca"));
            QCOMPARE(ScratchHome::readFile(root.path() + "/0000/user"), f.userContents);
        } else {
            QCOMPARE(int(result.status), int(SaveResult::Unreadable));
            QCOMPARE(result.reason, typed);
            QCOMPARE(entries(root.path()), QStringList());
        }
        if (fifo)
            QVERIFY(!fifo->released());
    }

    // ---- the dialogs' entry point ----

    void saveFromDialogReports_data()
    {
        QTest::addColumn<ProfileKind>("kind");
        QTest::addColumn<ProfileFields>("fields");
        QTest::addColumn<bool>("stray"); // a file named 0000 blocks a new profile
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");

        const int info = QMessageBox::Information;
        ProfileFields f = certFields();
        f.keyField.clear();
        QTest::newRow("missing key in the new wizard")
            << ProfileKind::CertificateAndKey << f << false << info << "[ProfileSave] Missing data"
            << "[ProfileSave] Select private key file!";
        f = pkcs12Fields();
        f.server.clear();
        QTest::newRow("missing server in the PKCS#12 edit")
            << ProfileKind::Pkcs12 << f << false << info << "[ProfileSave] Missing data"
            << "[ProfileSave] Enter VPN server name or IP address!";
        f = pkcs12Fields();
        f.name = "a\nb";
        QTest::newRow("line break refused in the PKCS#12 wizard")
            << ProfileKind::Pkcs12 << f << false << int(QMessageBox::Warning) << "[ProfileSave] Invalid data"
            << "[ProfileSave] VPN connection name must not contain line breaks!";
        QTest::newRow("write failure in the new wizard")
            << ProfileKind::CertificateAndKey << certFields() << true << int(QMessageBox::Critical)
            << "[ProfileSave] Error"
            << "[ProfileSave] VPN connection could not be saved:\n";
    }
    void saveFromDialogReports()
    {
        QFETCH(ProfileKind, kind);
        QFETCH(ProfileFields, fields);
        QFETCH(bool, stray);
        QFETCH(int, icon);
        QFETCH(QString, title);
        QFETCH(QString, text);
        ScratchHome home;
        QVERIFY(home.enterRoot());
        if (stray)
            QVERIFY(ScratchHome::writeFile(home.rootPath() + "/0000", "x"));
        const QStringList before = entries(home.rootPath());
        ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        QDialog dialog;
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QString dirName = "untouched";
        const bool saved = DialogParts::saveFromDialog(&dialog, kind, fields, QString(), &dirName);
        QCoreApplication::removeTranslator(&translator);

        QVERIFY(!saved);
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(dirName, QStringLiteral("untouched"));
        QCOMPARE(entries(home.rootPath()), before);
        QCOMPARE(Prompt::messages().size(), 1);
        const Prompt::Shown shown = Prompt::messages().first();
        QCOMPARE(shown.parent, &dialog);
        QCOMPARE(int(shown.icon), icon);
        QCOMPARE(shown.title, title);
        QVERIFY2(shown.text.startsWith(text), qPrintable(shown.text));
        QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void saveFromDialogAcceptsOnSuccess()
    {
        ScratchHome home;
        QVERIFY(home.enterRoot());
        QDialog newDialog;
        QSignalSpy accepted(&newDialog, &QDialog::accepted);
        QString dirName;
        QVERIFY(DialogParts::saveFromDialog(&newDialog, ProfileKind::CertificateAndKey, certFields(),
                                            QString(), &dirName));
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(newDialog.result(), int(QDialog::Accepted));
        QCOMPARE(dirName, QStringLiteral("0000"));
        QVERIFY(QFileInfo(home.rootPath() + "/0000/conf").isFile());

        QDialog editDialog;
        ProfileFields f = certFields();
        f.name = "Renamed";
        QVERIFY(DialogParts::saveFromDialog(&editDialog, ProfileKind::CertificateAndKey, f, "0000", nullptr));
        QCOMPARE(editDialog.result(), int(QDialog::Accepted));
        QCOMPARE(ConfReader::readFile(home.rootPath() + "/0000/conf").vpnName, QStringLiteral("Renamed"));
        QVERIFY(Prompt::messages().isEmpty());
        QCOMPARE(entries(home.rootPath()), QStringList({"0000"}));
    }
};

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
