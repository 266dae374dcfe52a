#include "EngineProcess.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "profiles/ConfReader.h"
#include "profiles/OvpnImport.h"

// Imports OpenVPN client files in the shapes providers ship (tests/data/ovpn), saves them as
// profiles and reads them back the way the manager and the engine do. Keys and certificates are
// made afresh by openssl for every run, so none is committed; the corpus holds placeholders.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QtTest>

#include <sys/stat.h>

using Fate = OvpnImport::Fate;
using Kind = OvpnImport::Kind;
using Reason = OvpnImport::Reason;

Q_DECLARE_METATYPE(OvpnImport::Kind)

namespace {

const QString kCorpus = QStringLiteral(QLUMAR_SOURCE_DIR "/tests/data/ovpn");
const QString kP12Password = QStringLiteral("p12 pass");
const QString kKeyPassphrase = QStringLiteral("key pass");
const QString kChosenPassword = QStringLiteral("chosen at import");

// One expected report entry: the line (trimmed) starts with `source`.
struct Expect
{
    QString source;
    Fate fate;
    Reason reason;
    QString written; // Changed: what is written, or empty for "don't care"
};

} // namespace

Q_DECLARE_METATYPE(QList<Expect>)

class ImportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void corpus_data();
    void corpus();
    void engineAcceptsImportedPkcs12_data();
    void engineAcceptsImportedPkcs12();
    void openVpnReadsTheImport_data();
    void openVpnReadsTheImport();
    void refusals_data();
    void refusals();
    void tokenProfileWaitsForKeyLabel();
    void engineAcceptsImportedTokenProfile();
    void failedWriteLeavesNothing();
    void packingNeedsPasswordAndMatchingKey();
    void quotingAsOpenVpnReadsIt();
    void inlineReferencesAndConnectionBlocks();
    void commandLine_data();
    void commandLine();
    void desktopOpensOvpnFiles();

private:
    bool openssl(const QStringList& args);
    // The corpus file with its placeholders filled, beside every file a corpus file may name.
    QString prepare(const QString& corpusName, QTemporaryDir* dir);
    OvpnImport imported(const QString& corpusName, QTemporaryDir* dir);

    QTemporaryDir m_keys;
    QString m_opensslError;
    QMap<QByteArray, QByteArray> m_placeholders;
};

bool ImportTest::openssl(const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(m_keys.path());
    process.start(QStringLiteral("openssl"), args);
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok)
        qWarning("openssl %s: %s", qPrintable(args.join(' ')), process.readAllStandardError().constData());
    return ok;
}

void ImportTest::initTestCase()
{
    QVERIFY(m_keys.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
        m_opensslError = QStringLiteral("openssl not found (Debian: apt-get install openssl)");
        return;
    }
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"};
    QVERIFY(openssl(QStringList{"req", "-x509"} + ec +
                    QStringList{"-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-subj",
                                "/CN=Import test CA", "-days", "2"}));
    QVERIFY(openssl(
        QStringList{"req"} + ec +
        QStringList{"-nodes", "-keyout", "client.key", "-out", "client.csr", "-subj", "/CN=import client"}));
    QVERIFY(openssl({"x509", "-req", "-in", "client.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                     "-CAcreateserial", "-out", "client.crt", "-days", "2"}));
    QVERIFY(openssl({"pkey", "-in", "client.key", "-aes256", "-passout", "pass:" + kKeyPassphrase, "-out",
                     "client-encrypted.key"}));
    QVERIFY(openssl({"pkcs12", "-export", "-inkey", "client.key", "-in", "client.crt", "-certfile", "ca.crt",
                     "-passout", "pass:" + kP12Password, "-out", "client.p12"}));

    auto file = [this](const QString& name) {
        return ScratchHome::readFile(m_keys.filePath(name)).trimmed();
    };
    QByteArray staticKey = "#\n# 2048 bit OpenVPN static key\n#\n-----BEGIN OpenVPN Static key V1-----\n";
    for (int i = 0; i < 16; ++i)
        staticKey +=
            QByteArray::number(0x0123456789abcdefULL + quint64(i) * 7919, 16).rightJustified(32, '0') + '\n';
    staticKey += "-----END OpenVPN Static key V1-----";
    QByteArray v2 = "-----BEGIN OpenVPN tls-crypt-v2 client key-----\n";
    for (int i = 0; i < 4; ++i)
        v2 += QByteArray(48, char('a' + i)).toBase64() + '\n';
    v2 += "-----END OpenVPN tls-crypt-v2 client key-----";

    m_placeholders = {
        {"@CA@", file("ca.crt")},
        {"@CERT@", file("client.crt")},
        {"@KEY@", file("client.key")},
        {"@KEYENC@", file("client-encrypted.key")},
        {"@P12B64@", ScratchHome::readFile(m_keys.filePath("client.p12")).toBase64()},
        {"@TA@", staticKey},
        {"@TC2@", v2},
    };
    QVERIFY(ScratchHome::writeFile(m_keys.filePath("ta.key"), staticKey + '\n'));
}

QString ImportTest::prepare(const QString& corpusName, QTemporaryDir* dir)
{
    QByteArray text = ScratchHome::readFile(kCorpus + QLatin1Char('/') + corpusName);
    const bool crlf = text.contains("\r\n");
    for (auto it = m_placeholders.cbegin(); it != m_placeholders.cend(); ++it) {
        QByteArray value = it.value();
        if (crlf)
            value.replace("\n", "\r\n");
        text.replace(it.key(), value);
    }
    const QStringList beside = {"ca.crt", "client.crt", "client.key", "ta.key", "client.p12"};
    for (const QString& name : beside)
        ScratchHome::writeFile(dir->filePath(name), ScratchHome::readFile(m_keys.filePath(name)));
    ScratchHome::writeFile(dir->filePath("my certs/ca file.crt"),
                           ScratchHome::readFile(m_keys.filePath("ca.crt")));
    ScratchHome::writeFile(dir->filePath("my certs/client cert.crt"),
                           ScratchHome::readFile(m_keys.filePath("client.crt")));
    ScratchHome::writeFile(dir->filePath("my certs/client key.key"),
                           ScratchHome::readFile(m_keys.filePath("client.key")));
    ScratchHome::writeFile(dir->filePath("creds.txt"), "alice\nsecret password\n");
    const QString path = dir->filePath(corpusName);
    ScratchHome::writeFile(path, text);
    return path;
}

OvpnImport ImportTest::imported(const QString& corpusName, QTemporaryDir* dir)
{
    OvpnImport import;
    const bool ok = import.readFile(prepare(corpusName, dir));
    if (!ok)
        qWarning("%s: %s", qPrintable(corpusName), qPrintable(import.error()));
    return import;
}

void ImportTest::corpus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<Expect>>("expected");
    QTest::addColumn<QStringList>("templateHas");

    const Expect packedCa{"ca ", Fate::Changed, Reason::PackedIntoPkcs12, ""};
    const Expect packedCert{"cert ", Fate::Changed, Reason::PackedIntoPkcs12, ""};
    const Expect packedKey{"key ", Fate::Changed, Reason::PackedIntoPkcs12, ""};
    const QStringList p12 = {"conf", "user.p12"};

    QTest::newRow("inline everything, static key moved out of the template")
        << "inline-everything.ovpn" << Kind::Pkcs12 << "vpn1.example.net"
        << "1194" << QStringList{"conf", "user.p12", "tls-auth.key"}
        << QList<Expect>{{"# Generated", Fate::Kept, Reason::Comment, ""},
                         {"remote vpn1", Fate::LeftOut, Reason::MovedToHeader, ""},
                         {"cipher AES-256-GCM", Fate::Kept, Reason::Directive, ""},
                         {"<ca>", Fate::Changed, Reason::PackedIntoPkcs12, ""},
                         {"<cert>", Fate::Changed, Reason::PackedIntoPkcs12, ""},
                         {"<key>", Fate::Changed, Reason::PackedIntoPkcs12, ""},
                         {"<tls-auth>", Fate::Changed, Reason::FileCopied, "tls-auth tls-auth.key"}}
        << QStringList{"\nkey-direction 1\n", "\ntls-auth tls-auth.key\n", "\nremote-cert-tls server\n"};
    QTest::newRow("separate files, direction kept on the key file")
        << "separate-files.ovpn" << Kind::Pkcs12 << "gw.example.org"
        << "1194" << QStringList{"conf", "user.p12", "tls-auth.key"}
        << QList<Expect>{packedCa,
                         packedCert,
                         packedKey,
                         {"tls-auth ta.key 1", Fate::Changed, Reason::FileCopied, "tls-auth tls-auth.key 1"}}
        << QStringList{"\ntls-auth tls-auth.key 1\n"};
    QTest::newRow("CRLF with BOM, protocol of the remote kept")
        << "crlf-with-bom.ovpn" << Kind::Pkcs12 << "win.example.net"
        << "443" << p12
        << QList<Expect>{{"# Windows export", Fate::Kept, Reason::Comment, ""},
                         {"remote win", Fate::Changed, Reason::ProtocolKept, "proto tcp"}}
        << QStringList{"\nproto tcp\nproto tcp\n"};
    QTest::newRow("pkcs12 inline")
        << "pkcs12-inline.ovpn" << Kind::Pkcs12 << "198.51.100.7"
        << "1194" << p12
        << QList<Expect>{{"remote 198", Fate::Changed, Reason::ProtocolKept, "proto udp"},
                         {"<pkcs12>", Fate::Changed, Reason::Pkcs12File, "pkcs12 user.p12"},
                         {"verify-x509-name", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"\nverify-x509-name \"vpn server\" name\n"};
    QTest::newRow("pkcs12 beside, with username and password")
        << "pkcs12-file-with-password.ovpn" << Kind::Pkcs12 << "office.example.com"
        << "443" << p12
        << QList<Expect>{{"pkcs12 client.p12", Fate::Changed, Reason::Pkcs12File, "pkcs12 user.p12"},
                         {"auth-user-pass", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"\nauth-user-pass\n", "\nproto tcp-client\n"};
    QTest::newRow("username and password only")
        << "auth-user-pass-only.ovpn" << Kind::UserPassword << "auth.example.net"
        << "1194" << QStringList{"conf"}
        << QList<Expect>{{"auth-user-pass", Fate::Kept, Reason::Directive, ""},
                         {"<ca>", Fate::Kept, Reason::InlineBlock, ""}}
        << QStringList{"\n<ca>\n-----BEGIN CERTIFICATE-----\n", "\nauth-user-pass\n"};
    QTest::newRow("password file not copied, rport in the header")
        << "auth-user-pass-file.ovpn" << Kind::UserPassword << "203.0.113.20"
        << "1195" << QStringList{"conf"}
        << QList<Expect>{{"rport 1195", Fate::LeftOut, Reason::MovedToHeader, ""},
                         {"ca ca.crt", Fate::Changed, Reason::FileInlined, "<ca>"},
                         {"auth-user-pass creds.txt", Fate::Changed, Reason::CredentialsAsked,
                          "auth-user-pass"},
                         {"auth-retry interact", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"\n<ca>\n-----BEGIN CERTIFICATE-----\n"};
    QTest::newRow("static challenge")
        << "static-challenge.ovpn" << Kind::UserPassword << "otp.example.net"
        << "1194" << QStringList{"conf"}
        << QList<Expect>{{"static-challenge", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"\nstatic-challenge \"Enter your one-time code\" 1\n"};
    QTest::newRow("tls-crypt-v2 stays inline")
        << "tls-crypt-v2.ovpn" << Kind::Pkcs12 << "v2.example.net"
        << "1194" << p12 << QList<Expect>{{"<tls-crypt-v2>", Fate::Kept, Reason::InlineBlock, ""}}
        << QStringList{"\n<tls-crypt-v2>\n-----BEGIN OpenVPN tls-crypt-v2 client key-----\n"};
    QTest::newRow("connection blocks")
        << "connection-blocks.ovpn" << Kind::Pkcs12 << "primary.example.net"
        << "1194" << p12
        << QList<Expect>{{"<connection>", Fate::Kept, Reason::InlineBlock, ""},
                         {"remote primary", Fate::Changed, Reason::ConnectionServer,
                          "--remote primary.example.net 1194 udp"},
                         {"remote fallback", Fate::Changed, Reason::ConnectionServer,
                          "--remote fallback.example.net 443 tcp-client"},
                         {"connect-timeout 10", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"<connection>\n--remote fallback.example.net 443 "
                       "tcp-client\nconnect-timeout 10\n</connection>\n"};
    QTest::newRow("unknown directives skipped by OpenVPN only if unknown there too")
        << "unknown-directives.ovpn" << Kind::Pkcs12 << "u.example.net"
        << "1194" << p12
        << QList<Expect>{{"setenv CLIENT_CERT 0", Fate::Kept, Reason::Directive, ""},
                         {"tls-remote", Fate::Changed, Reason::UnknownDirective,
                          "setenv opt tls-remote server.example.net"},
                         {"fancy-future-option", Fate::Changed, Reason::UnknownDirective,
                          "setenv opt fancy-future-option 3 \"with words\""},
                         {"block-outside-dns", Fate::Changed, Reason::OtherSystem,
                          "setenv opt block-outside-dns"}}
        << QStringList{"\nsetenv opt tls-remote server.example.net\n"};
    QTest::newRow("scripts and escapes refused")
        << "scripts-refused.ovpn" << Kind::Pkcs12 << "s.example.net"
        << "1194" << p12
        << QList<Expect>{{"script-security 2", Fate::LeftOut, Reason::RunsProgram, ""},
                         {"up ", Fate::LeftOut, Reason::RunsProgram, ""},
                         {"down ", Fate::LeftOut, Reason::RunsProgram, ""},
                         {"route-up", Fate::LeftOut, Reason::RunsProgram, ""},
                         {"plugin", Fate::LeftOut, Reason::RunsProgram, ""},
                         {"daemon", Fate::LeftOut, Reason::OutOfReach, ""},
                         {"log ", Fate::LeftOut, Reason::OutOfReach, ""},
                         {"management", Fate::LeftOut, Reason::OutOfReach, ""},
                         {"cd ", Fate::LeftOut, Reason::ChangesDirectory, ""},
                         {"config other.conf", Fate::LeftOut, Reason::IncludesFile, ""}}
        << QStringList{"\nclient\ndev tun\n"};
    QTest::newRow("pkcs11-id: token profile")
        << "pkcs11-id.ovpn" << Kind::CertificateAndTokenKey << "token.example.net"
        << "1194" << QStringList{"conf", "ca", "user"}
        << QList<Expect>{{"ca ca.crt", Fate::Changed, Reason::TokenCopied, "ca ca"},
                         {"pkcs11-providers", Fate::LeftOut, Reason::TokenSetting, ""},
                         {"pkcs11-id", Fate::LeftOut, Reason::TokenSetting, ""},
                         {"pkcs11-pin-cache", Fate::LeftOut, Reason::TokenSetting, ""}}
        << QStringList{"\nclient\n"};
    QTest::newRow("quoted and escaped paths with spaces")
        << "quoted-paths.ovpn" << Kind::Pkcs12 << "q.example.net"
        << "1194" << p12
        << QList<Expect>{{"ca \"my certs", Fate::Changed, Reason::PackedIntoPkcs12, ""},
                         {"cert 'my certs", Fate::Changed, Reason::PackedIntoPkcs12, ""},
                         {"key my\\ certs", Fate::Changed, Reason::PackedIntoPkcs12, ""}}
        << QStringList{"\nclient\n"};
    QTest::newRow("further remotes get the port they had")
        << "multiple-remotes.ovpn" << Kind::Pkcs12 << "first.example.net"
        << "1194" << p12
        << QList<Expect>{{"remote first", Fate::LeftOut, Reason::MovedToHeader, ""},
                         {"remote second", Fate::Changed, Reason::FurtherServer,
                          "--remote second.example.net 1195"},
                         {"remote 2001", Fate::Changed, Reason::FurtherServer,
                          "--remote 2001:db8::3 1196 udp6"},
                         {"port 1195", Fate::Kept, Reason::Directive, ""}}
        << QStringList{"\nremote-random\n"};
    QTest::newRow("encrypted key") << "encrypted-key.ovpn" << Kind::Pkcs12 << "enc.example.net"
                                   << "1194" << p12
                                   << QList<Expect>{{"<key>", Fate::Changed, Reason::PackedIntoPkcs12, ""}}
                                   << QStringList{"\nclient\n"};
    QTest::newRow("comments the manager would misread")
        << "misleading-comments.ovpn" << Kind::Pkcs12 << "new.example.net"
        << "1194" << p12
        << QList<Expect>{{"# Old server", Fate::Kept, Reason::Comment, ""},
                         {"# remote old", Fate::LeftOut, Reason::ReadBackAsProfile, ""},
                         {";remote older", Fate::LeftOut, Reason::ReadBackAsProfile, ""},
                         {"# a single ca file", Fate::LeftOut, Reason::ReadBackAsProfile, ""},
                         {"remote new", Fate::LeftOut, Reason::MovedToHeader, ""},
                         {"ca ca.crt ; beside", Fate::Changed, Reason::PackedIntoPkcs12, ""}}
        << QStringList{"# Old server, kept for reference:\nclient\n"};
}

void ImportTest::corpus()
{
    QFETCH(QString, file);
    QFETCH(Kind, kind);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QStringList, files);
    QFETCH(QList<Expect>, expected);
    QFETCH(QStringList, templateHas);
    SKIP_UNLESS_EMPTY(m_opensslError);

    QTemporaryDir source;
    OvpnImport import = imported(file, &source);
    QVERIFY2(import.error().isEmpty(), qPrintable(import.error()));
    QCOMPARE(import.kind(), kind);
    QCOMPARE(import.name(), QFileInfo(file).completeBaseName());
    QCOMPARE(import.host(), host);
    QCOMPARE(import.port(), port);

    // Every line but blanks and the insides of blocks has exactly one entry.
    const QStringList sourceLines = QString::fromUtf8(ScratchHome::readFile(source.filePath(file)))
                                        .remove(QChar(0xfeff))
                                        .remove(QLatin1Char('\r'))
                                        .split(QLatin1Char('\n'));
    QSet<int> reported;
    for (const OvpnImport::Entry& entry : import.report()) {
        QVERIFY2(!reported.contains(entry.line), qPrintable(QString("line %1 twice").arg(entry.line)));
        reported.insert(entry.line);
        QVERIFY(entry.line >= 1 && entry.line <= sourceLines.size());
        QVERIFY(*OvpnImport::reasonText(entry.reason));
    }
    bool inBlock = false;
    QString blockEnd;
    for (int i = 0; i < sourceLines.size(); ++i) {
        const QString trimmed = sourceLines.at(i).trimmed();
        if (inBlock) {
            inBlock = trimmed != blockEnd;
            continue;
        }
        if (trimmed.startsWith('<') && !trimmed.startsWith("<connection") && !trimmed.startsWith("</")) {
            inBlock = true;
            blockEnd = "</" + trimmed.mid(1);
        }
        if (!trimmed.isEmpty() && trimmed != "</connection>")
            QVERIFY2(reported.contains(i + 1),
                     qPrintable(QString("line %1 unreported: %2").arg(i + 1).arg(trimmed)));
    }

    for (const Expect& expect : expected) {
        auto it =
            std::find_if(import.report().begin(), import.report().end(), [&](const OvpnImport::Entry& e) {
                return e.source.trimmed().startsWith(expect.source);
            });
        QVERIFY2(it != import.report().end(), qPrintable("no entry for " + expect.source));
        QCOMPARE(int(it->fate), int(expect.fate));
        QCOMPARE(int(it->reason), int(expect.reason));
        if (!expect.written.isEmpty())
            QCOMPARE(it->written, expect.written);
    }

    if (import.needsPkcs12Password()) {
        const QString keyPassphrase = import.keyIsEncrypted() ? kKeyPassphrase : QString();
        QVERIFY2(import.setPkcs12Password(kChosenPassword, keyPassphrase), qPrintable(import.error()));
    }
    if (kind == Kind::CertificateAndTokenKey)
        import.setKeyLabel(QStringLiteral("alice key"));

    QStringList names;
    for (const OvpnImport::File& f : import.files())
        names.append(f.name);
    QCOMPARE(names, files);

    const QByteArray conf = import.conf();
    const QByteArray marker = ProfileSave::templateMarker;
    QVERIFY(conf.startsWith("#\n# qLumarVpnName " + import.name().toUtf8() + "\n#\nremote " + host.toUtf8() +
                            "\nrport " + port.toUtf8() + "\n"));
    QCOMPARE(conf.count(marker), 1);
    const QByteArray templ = conf.mid(conf.indexOf(marker) + marker.size());
    for (const QString& piece : templateHas)
        QVERIFY2(("\n" + templ).contains(piece.toUtf8()), qPrintable(piece + " not in\n" + templ));
    for (const char* refused :
         {"\nup ", "\ndown ", "\nplugin", "\nscript-security 2", "\ndaemon", "\r", "creds"})
        QVERIFY2(!("\n" + templ).contains(refused), refused);

    QTemporaryDir root;
    QDir(root.path()).mkdir("0000");
    const SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Saved));
    QCOMPARE(saved.dirName, QStringLiteral("0001"));
    QStringList onDisk = QDir(root.filePath("0001")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QStringList sortedFiles = files;
    sortedFiles.sort();
    QCOMPARE(onDisk, sortedFiles);
    for (const QString& name : onDisk) {
        const QFile::Permissions perms = QFileInfo(root.filePath("0001/" + name)).permissions();
        QVERIFY2(!(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther)),
                 qPrintable(name));
    }
    QCOMPARE(QDir(root.path()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"0000", "0001"}));

    const ProfileData read = ConfReader::readFile(root.filePath("0001/conf"));
    QCOMPARE(read.vpnName, import.name());
    QCOMPARE(read.server, host);
    QCOMPARE(read.port, port);
    switch (kind) {
    case Kind::Pkcs12:
        QCOMPARE(read.pkcs12File, QStringLiteral("user.p12"));
        QVERIFY(read.keyName.isEmpty());
        break;
    case Kind::CertificateAndTokenKey:
        QVERIFY(read.pkcs12File.isEmpty());
        QCOMPARE(read.caCert, QStringLiteral("ca"));
        QCOMPARE(read.userCert, QStringLiteral("user"));
        QCOMPARE(read.keyName, QStringLiteral("alice key"));
        break;
    case Kind::UserPassword:
        QVERIFY(read.pkcs12File.isEmpty());
        QVERIFY(read.keyName.isEmpty());
        QVERIFY(read.caCert.isEmpty());
        QVERIFY(import.asksUserPassword());
        break;
    }
    if (file == "static-challenge.ovpn") {
        QCOMPARE(import.staticChallenge(), QStringLiteral("Enter your one-time code"));
        QVERIFY(import.staticChallengeEcho());
    }
}

void ImportTest::engineAcceptsImportedPkcs12_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::newRow("packed from inline certificate and key") << "inline-everything.ovpn" << kChosenPassword;
    QTest::newRow("packed from files beside") << "separate-files.ovpn" << kChosenPassword;
    QTest::newRow("packed, protected by the key's own passphrase") << "encrypted-key.ovpn" << kKeyPassphrase;
    QTest::newRow("the provider's own PKCS#12, inline") << "pkcs12-inline.ovpn" << kP12Password;
    QTest::newRow("the provider's own PKCS#12, beside") << "pkcs12-file-with-password.ovpn" << kP12Password;
}

void ImportTest::engineAcceptsImportedPkcs12()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    SKIP_UNLESS_EMPTY(m_opensslError);
    QVERIFY2(QFile::exists(builtProgram("qlumar_openvpn")), "build the qlumar_openvpn target first");

    QTemporaryDir source;
    OvpnImport import = imported(file, &source);
    QVERIFY2(import.error().isEmpty(), qPrintable(import.error()));
    // An encrypted key with no password of its own chosen: its passphrase protects the file.
    if (import.needsPkcs12Password() && import.keyIsEncrypted())
        QVERIFY2(import.setPkcs12Password(QString(), password), qPrintable(import.error()));
    else if (import.needsPkcs12Password())
        QVERIFY2(import.setPkcs12Password(password), qPrintable(import.error()));
    QTemporaryDir root;
    const SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Saved));

    const QStringList common = {"--config", "conf", "--dev", "tun", "--float", "--pull", "--tls-client"};
    const QProcessEnvironment env =
        engineEnvironment({"QLUMAR_ENGINE=simulator", "QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    const EngineRun good =
        runEngineToEnd(root.filePath(saved.dirName), common + QStringList{"--keypass", password}, env, 30000);
    QVERIFY2(good.output.contains("Initialization Sequence Completed"), good.output.constData());
    QCOMPARE(good.code, 0);

    const EngineRun wrong =
        runEngineToEnd(root.filePath(saved.dirName), common + QStringList{"--keypass", "wrong"}, env, 30000);
    QVERIFY2(wrong.output.contains("Error: private key password verification failed"),
             wrong.output.constData());
    QCOMPARE(wrong.code, 1);
}

void ImportTest::openVpnReadsTheImport_data()
{
    QTest::addColumn<QString>("file");
    const QStringList files = QDir(kCorpus).entryList({"*.ovpn"}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        // OpenVPN itself would only find the token through the engine's own setup.
        if (file != "pkcs11-id.ovpn")
            QTest::newRow(qPrintable(file)) << file;
    }
}

// OpenVPN parses the saved profile up to the point where it asks for the password or the
// username, so every line the import kept or wrote is one OpenVPN accepts. Every server is
// pointed at the loopback first; with standard input closed nothing connects anywhere.
void ImportTest::openVpnReadsTheImport()
{
    QFETCH(QString, file);
    SKIP_UNLESS_EMPTY(m_opensslError);
    const QString openvpn =
        QStandardPaths::findExecutable("openvpn", {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    if (openvpn.isEmpty())
        QSKIP("openvpn not found (Debian: apt-get install openvpn)");

    QTemporaryDir source;
    OvpnImport import = imported(file, &source);
    QVERIFY2(import.error().isEmpty(), qPrintable(import.error()));
    if (import.needsPkcs12Password())
        QVERIFY(
            import.setPkcs12Password(kChosenPassword, import.keyIsEncrypted() ? kKeyPassphrase : QString()));
    QTemporaryDir root;
    const SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Saved));

    const QString dir = root.filePath(saved.dirName);
    QString conf = QString::fromUtf8(ScratchHome::readFile(dir + "/conf"));
    conf.replace(
        QRegularExpression("[a-z0-9.-]+\\.example\\.(net|org|com)|198\\.51\\.100\\.7|203\\.0\\.113\\.20"),
        "127.0.0.1");
    conf.replace("2001:db8::3", "::1");
    QVERIFY(!conf.contains("example"));
    QVERIFY(ScratchHome::writeFile(dir + "/loopback.conf", conf.toUtf8()));

    QProcess process;
    process.setWorkingDirectory(dir);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openvpn, {"--config", "loopback.conf", "--dev", "null", "--verb", "3"});
    QVERIFY(process.waitForFinished(20000));
    const QByteArray output = process.readAll();
    QVERIFY2(!output.contains("Options error"), output.constData());
    QVERIFY2(output.contains("can't ask for 'Enter"), output.constData());
    QVERIFY2(!output.contains("is group or others accessible"), output.constData());
}

void ImportTest::refusals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("no server") << QByteArray("client\nauth-user-pass\n") << "names no server";
    QTest::newRow("no credentials") << QByteArray("client\nremote a.example\n") << "holds no credentials";
    QTest::newRow("block not closed")
        << QByteArray("remote a.example\n<ca>\nxx\n") << "Line 2: <ca> is not closed";
    QTest::newRow("certificate without key")
        << QByteArray("remote a.example\ncert client.crt\n") << "certificate but no private key";
    QTest::newRow("missing file") << QByteArray("remote a.example\nca nothere.crt\n") << "nothere.crt (ca)";
    QTest::newRow("named pipe beside") << QByteArray("remote a.example\nca pipe\n") << "not a regular file";
    QTest::newRow("directory beside") << QByteArray("remote a.example\nca subdir\n") << "not a regular file";
    QTest::newRow("device") << QByteArray("remote a.example\nca /dev/zero\n") << "not a regular file";
    QTest::newRow("too large") << QByteArray("remote a.example\nca big\n") << "larger than 1048576 bytes";
    QTest::newRow("invalid port") << QByteArray("remote a.example 70000\nauth-user-pass\n") << "port '70000'";
    QTest::newRow("quoted port with a blank")
        << QByteArray("remote h \" 1194\"\nauth-user-pass\n") << "port ' 1194'";
    QTest::newRow("quoted server name with a blank")
        << QByteArray("remote \"a b\" 1194\nauth-user-pass\n") << "Invalid server name 'a b'";
    QTest::newRow("pkcs12 not base64")
        << QByteArray("remote a.example\n<pkcs12>\n*not*\n</pkcs12>\n") << "<pkcs12> is not base64";
}

void ImportTest::refusals()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600) == 0);
    QVERIFY(QDir(dir.path()).mkdir("subdir"));
    QVERIFY(ScratchHome::writeFile(dir.filePath("big"), QByteArray(OvpnImport::maxFileSize + 1, 'x')));
    QVERIFY(ScratchHome::writeFile(dir.filePath("client.crt"), "-----BEGIN CERTIFICATE-----\n"));
    QVERIFY(ScratchHome::writeFile(dir.filePath("vpn.ovpn"), text));

    OvpnImport import;
    QVERIFY(!import.readFile(dir.filePath("vpn.ovpn")));
    QVERIFY2(import.error().contains(error), qPrintable(import.error()));
}

void ImportTest::tokenProfileWaitsForKeyLabel()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QTemporaryDir source;
    OvpnImport import = imported("pkcs11-id.ovpn", &source);
    QCOMPARE(import.kind(), Kind::CertificateAndTokenKey);
    QVERIFY(import.pkcs11Id().startsWith("OpenSC\\x20Project/"));
    QVERIFY(import.keyLabel().isEmpty());

    QTemporaryDir root;
    SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::MissingData));
    QCOMPARE(QByteArray(saved.message), QByteArray("Select private key file!"));
    QVERIFY(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    import.setKeyLabel("alice key");
    saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Saved));
    QCOMPARE(ScratchHome::readFile(root.filePath("0000/ca")),
             ScratchHome::readFile(source.filePath("ca.crt")));
    QVERIFY(ScratchHome::readFile(root.filePath("0000/user")).isEmpty());
}

void ImportTest::engineAcceptsImportedTokenProfile()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
#ifdef Q_OS_WIN
    QSKIP("the SoftHSM2 token fixture needs a POSIX shell");
#endif
    if (QStandardPaths::findExecutable("softhsm2-util").isEmpty())
        QSKIP("softhsm2-util not found (Debian: apt-get install softhsm2)");
    QProcess script;
    script.start("bash",
                 {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/make-test-token"), m_keys.filePath("token"),
                  "Import Test", "1234", "alice key", m_keys.filePath("client.key")});
    QVERIFY(script.waitForFinished(60000));
    QCOMPARE(script.exitCode(), 0);
    QStringList tokenEnv;
    for (const QByteArray& line : script.readAllStandardOutput().split('\n')) {
        if (line.contains('='))
            tokenEnv << QString::fromUtf8(line);
    }

    QTemporaryDir source;
    OvpnImport import = imported("pkcs11-id.ovpn", &source);
    import.setKeyLabel("alice key");
    QTemporaryDir root;
    const SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Saved));

    const QStringList common = {"--config", "conf",         "--dev",    "tun",     "--float",
                                "--pull",   "--tls-client", "--engkey", "--engine"};
    const QProcessEnvironment env =
        engineEnvironment(tokenEnv + QStringList{"QLUMAR_ENGINE=simulator", "QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    const EngineRun good = runEngineToEnd(root.filePath(saved.dirName),
                                          common + QStringList{"dudidudovi:user_pin:1234"}, env, 30000);
    QVERIFY2(good.output.contains("Initialization Sequence Completed"), good.output.constData());
    const EngineRun wrong = runEngineToEnd(root.filePath(saved.dirName),
                                           common + QStringList{"dudidudovi:user_pin:9999"}, env, 30000);
    QVERIFY2(wrong.output.contains("Error: private key password verification failed"),
             wrong.output.constData());
}

// A file where the new directory would go (the numbering counts directories only), and a root
// that is not a directory: the import fails and leaves no half-written profile behind.
void ImportTest::failedWriteLeavesNothing()
{
    OvpnImport import;
    QVERIFY(import.read("remote h.example\nauth-user-pass\n", "plain", QDir::tempPath()));
    QTemporaryDir root;
    QVERIFY(ScratchHome::writeFile(root.filePath("0000"), "in the way"));
    SaveResult saved = import.write(root.path());
    QCOMPARE(int(saved.status), int(SaveResult::Failed));
    QVERIFY2(saved.reason.contains("0000"), qPrintable(saved.reason));
    QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"0000"});

    saved = import.write(root.filePath("0000"));
    QCOMPARE(int(saved.status), int(SaveResult::Failed));
    QCOMPARE(ScratchHome::readFile(root.filePath("0000")), QByteArray("in the way"));
}

void ImportTest::packingNeedsPasswordAndMatchingKey()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QTemporaryDir source;
    OvpnImport import = imported("encrypted-key.ovpn", &source);
    QVERIFY(import.needsPkcs12Password());
    QVERIFY(import.keyIsEncrypted());

    QTemporaryDir root;
    QCOMPARE(int(import.write(root.path()).status), int(SaveResult::MissingData));
    QVERIFY(!import.setPkcs12Password(QString(), QString()));
    QVERIFY(!import.setPkcs12Password(kChosenPassword, QStringLiteral("wrong passphrase")));
    QVERIFY2(import.error().contains("cannot be read with this passphrase"), qPrintable(import.error()));
    QCOMPARE(int(import.write(root.path()).status), int(SaveResult::MissingData));
    QVERIFY(import.setPkcs12Password(kChosenPassword, kKeyPassphrase));

    // A key that belongs to another certificate.
    QTemporaryDir other;
    QByteArray text = ScratchHome::readFile(prepare("separate-files.ovpn", &other));
    QVERIFY(ScratchHome::writeFile(other.filePath("client.crt"),
                                   ScratchHome::readFile(other.filePath("ca.crt"))));
    OvpnImport mismatched;
    QVERIFY(mismatched.read(text, "mismatched", other.path()));
    QVERIFY(!mismatched.setPkcs12Password(kChosenPassword));
    QVERIFY2(mismatched.error().contains("does not belong"), qPrintable(mismatched.error()));
}

void ImportTest::quotingAsOpenVpnReadsIt()
{
    QTemporaryDir dir;
    QVERIFY(ScratchHome::writeFile(dir.filePath("a b\\c\"d"), "x\n"));
    QVERIFY(ScratchHome::writeFile(dir.filePath("lit\\"), "y\n"));
    OvpnImport import;
    const QByteArray text = "remote h.example 1194 # comment after a word\n"
                            "auth-user-pass\n"
                            "dh \"a b\\\\c\\\"d\"\n"
                            "crl-verify 'lit\\' ; end\n"
                            "route 10.0.0.0 255.0.0.0 #note\n";
    QVERIFY2(import.read(text, "quoting", dir.path()), qPrintable(import.error()));
    QCOMPARE(import.port(), QStringLiteral("1194"));
    const QByteArray conf = import.conf();
    QVERIFY2(conf.contains("\n<dh>\nx\n</dh>\n"), conf.constData());
    QVERIFY2(conf.contains("\n<crl-verify>\ny\n</crl-verify>\n"), conf.constData());
    QVERIFY(conf.contains("\nroute 10.0.0.0 255.0.0.0 #note\n"));
}

// "[inline]" directives and blocks inside <connection> (where OpenVPN allows tls-auth and
// tls-crypt): nothing of a block is lost, and a static key still leaves the template.
void ImportTest::inlineReferencesAndConnectionBlocks()
{
    const QByteArray key =
        "-----BEGIN OpenVPN Static key V1-----\n0123\n-----END OpenVPN Static key V1-----\n";
    const QByteArray text = "auth-user-pass\n"
                            "tls-auth [inline] 1\n"
                            "<tls-auth>\n" +
                            key +
                            "</tls-auth>\n"
                            "<connection>\n"
                            "remote c.example 1194\n"
                            "<tls-crypt>\nAAAA\n</tls-crypt>\n"
                            "</connection>\n";
    OvpnImport import;
    QVERIFY2(import.read(text, "refs", QDir::tempPath()), qPrintable(import.error()));
    const QByteArray conf = import.conf();
    QVERIFY2(conf.endsWith("\n\nauth-user-pass\nkey-direction 1\ntls-auth tls-auth.key\n<connection>\n"
                           "--remote c.example 1194\n<tls-crypt>\nAAAA\n</tls-crypt>\n</connection>\n"),
             conf.constData());
    QCOMPARE(import.files().back().name, QStringLiteral("tls-auth.key"));
    QCOMPARE(import.files().back().bytes, key);
    QCOMPARE(int(import.report().at(1).reason), int(Reason::InlineReference));
    QCOMPARE(ConfReader::read(conf).server, QStringLiteral("c.example"));
}

void ImportTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("result"); // the import path, or a piece of the error

    using R = CommandLine::Request;
    QTest::newRow("nothing") << QStringList{} << int(R::Run) << "";
    QTest::newRow("--import FILE, relative to the caller")
        << QStringList{"--import", "dl/My VPN.ovpn"} << int(R::Import) << "/home/alice/dl/My VPN.ovpn";
    QTest::newRow("--import=FILE") << QStringList{"--import=/tmp/a.ovpn"} << int(R::Import) << "/tmp/a.ovpn";
    QTest::newRow("file from a file manager")
        << QStringList{"../bob/x.conf"} << int(R::Import) << "/home/bob/x.conf";
    QTest::newRow("file URL") << QStringList{"file:///tmp/with%20space.ovpn"} << int(R::Import)
                              << "/tmp/with space.ovpn";
    QTest::newRow("a file named like an option after --")
        << QStringList{"--", "--import"} << int(R::Import) << "/home/alice/--import";
    QTest::newRow("--import without its file") << QStringList{"--import"} << int(R::Invalid) << "import";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << int(R::Invalid) << "frobnicate";
    QTest::newRow("two files") << QStringList{"--import", "a.ovpn", "b.ovpn"} << int(R::Invalid)
                               << "one file";
    QTest::newRow("remote URL") << QStringList{"https://example.net/a.ovpn"} << int(R::Invalid)
                                << "Not a local file";
    QTest::newRow("empty --import=") << QStringList{"--import="} << int(R::Invalid) << "Missing value";
}

void ImportTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, result);
    const CommandLine::Request request =
        CommandLine::parse(QStringList{"qlumar_vpn"} + arguments, QStringLiteral("/home/alice"));
    QCOMPARE(int(request.action), action);
    if (action == CommandLine::Request::Import)
        QCOMPARE(request.importPath, result);
    else if (action == CommandLine::Request::Invalid)
        QVERIFY2(request.error.contains(result), qPrintable(request.error));
}

// File managers offer the manager for ".ovpn" files: the desktop file names the type and passes
// the file, and the type the package installs is one the MIME database takes.
void ImportTest::desktopOpensOvpnFiles()
{
    const QString dir = QStringLiteral(QLUMAR_SOURCE_DIR "/resources/desktop/");
    const QByteArray desktop = ScratchHome::readFile(dir + "example.qlumar.Velkoro.desktop");
    QVERIFY(desktop.contains("\nExec=qlumar_vpn %f\n"));
    QVERIFY(desktop.contains("\nMimeType=application/x-openvpn-profile;\n"));
    QVERIFY(CommandLine::parse({"qlumar_vpn", "/tmp/x.ovpn"}, "/").action == CommandLine::Request::Import);

    const QString updater = QStandardPaths::findExecutable("update-mime-database");
    if (updater.isEmpty())
        QSKIP("update-mime-database not found (Debian: apt-get install shared-mime-info)");
    QTemporaryDir mime;
    QVERIFY(QDir(mime.path()).mkdir("packages"));
    QVERIFY(QFile::copy(dir + "example.qlumar.Velkoro.mime.xml", mime.filePath("packages/qlumar.xml")));
    QProcess process;
    process.start(updater, {mime.path()});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(ScratchHome::readFile(mime.filePath("globs")).contains("application/x-openvpn-profile:*.ovpn"));
}

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
