#pragma once

#include "ProfileSave.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QStringList>

#include <vector>

// Turns an OpenVPN client file (".ovpn", ".conf") into a profile of our own: the header our save
// writes, the template marker and the rest of the file as the template, plus the files the profile
// needs. Every line of the source gets a report entry saying what became of it and why.
//
// Use: read() or readFile(); on success look at kind(), name(), host(), port() and report(); give
// what the kind needs (setPkcs12Password() when needsPkcs12Password(), setKeyLabel() when a token
// profile has no label yet); then write(). conf() and files() show what write() would save.
class OvpnImport
{
    Q_DECLARE_TR_FUNCTIONS(OvpnImport)

public:
    enum class Kind {
        Pkcs12,                 // a PKCS#12 file, the file's own or packed from its certificate and key
        CertificateAndTokenKey, // "pkcs11-id": CA and certificate copied, the key stays in the token
        UserPassword,           // "auth-user-pass" without any client certificate: no key material at all
    };

    enum class Fate { Kept, Changed, LeftOut };

    // Why a line fared as it did. reasonText() gives the English sentence, translated in the context
    // "OvpnImport".
    enum class Reason {
        Comment,           // a comment, kept
        Directive,         // a directive OpenVPN runs, kept unchanged
        InlineBlock,       // an inline block, kept inline
        InlineReference,   // "tls-auth [inline] 1" and the like: the block is imported by itself
        MovedToHeader,     // server or port: now in the profile's header
        ProtocolKept,      // the first server's protocol, kept as a "proto" line
        FurtherServer,     // another server, written so the manager keeps the first one as the profile's
        ConnectionServer,  // a server inside a <connection> block, written likewise
        FileInlined,       // a file beside the imported one, now inline
        FileCopied,        // a file beside the imported one (or an inline block), now a file in the profile
        Pkcs12File,        // the PKCS#12 file of the profile
        PackedIntoPkcs12,  // certificate, key or CA: packed into the profile's PKCS#12 file
        TokenCopied,       // CA or certificate of a token profile: the files "ca" and "user"
        TokenSetting,      // pkcs11-*: the manager's token and the key label are used instead
        CredentialsAsked,  // username and password: asked for at connect time, never stored in the profile
        ReadBackAsProfile, // the manager would read this line as the profile's name, server or key
        RunsProgram,       // scripts and plugins: the import never lets a file run programs
        OutOfReach,        // would take OpenVPN out of the manager's reach (daemon, log, management, ...)
        ChangesDirectory,  // cd, chroot: paths would no longer resolve in the profile
        IncludesFile,      // config: another configuration file
        NotAConnection,    // a stand-alone command (genkey, show-*, ...), not part of a connection
        DirectoryBeside,   // crl-verify with "dir": a directory, not imported
        UnknownDirective,  // unknown here: OpenVPN is told to skip it when it does not know it either
        OtherSystem,       // an option of OpenVPN on Windows only, which OpenVPN here is told to skip
    };

    struct Entry
    {
        int line = 0;   // 1-based line in the imported file
        QString source; // the line as read (an inline block: its opening line)
        Fate fate = Fate::Kept;
        Reason reason = Reason::Directive;
        QString written; // Changed: what the profile holds instead (first line of it)
        QString detail;  // a file name, or the field the manager would have read
    };

    struct File
    {
        QString name; // inside the profile directory
        QByteArray bytes;
    };

    static constexpr qint64 maxFileSize = 1024 * 1024;

    static const char* reasonText(Reason reason);

    // Reads path and the files it names (relative to its directory). False, with error(), when
    // the file or a file it names cannot be read, a block is not closed, no server is given or the
    // file holds no credentials this manager can use.
    bool readFile(const QString& path);
    // The same from text; name is the profile name, baseDir resolves the files it names.
    bool read(const QByteArray& text, const QString& name, const QString& baseDir);

    const QString& error() const { return m_error; } // translated

    Kind kind() const { return m_kind; }
    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    const QString& host() const { return m_host; }
    const QString& port() const { return m_port; }
    const std::vector<Entry>& report() const { return m_report; }

    // "auth-user-pass" present (also with a certificate): the manager must ask at connect time.
    bool asksUserPassword() const { return m_authUserPass; }
    // "static-challenge TEXT ECHO": TEXT, or empty.
    const QString& staticChallenge() const { return m_challengeText; }
    bool staticChallengeEcho() const { return m_challengeEcho; }

    // Certificate and key are packed into a new PKCS#12 file: it needs a password, and an
    // encrypted key needs its passphrase (which is also the PKCS#12 password when none is given).
    bool needsPkcs12Password() const { return m_packing; }
    bool keyIsEncrypted() const { return m_keyEncrypted; }
    // False, with error(), when the key cannot be read with the passphrase, does not match the
    // certificate or no password is left to protect the PKCS#12 file.
    bool setPkcs12Password(const QString& password, const QString& keyPassphrase = QString());

    // Token profiles: the label of the private key in the token. Left empty by the import (an
    // OpenVPN token id names the key by its id, not its label); the caller asks the user.
    const QString& pkcs11Id() const { return m_pkcs11Id; }
    const QString& keyLabel() const { return m_keyLabel; }
    void setKeyLabel(const QString& label) { m_keyLabel = label; }

    // The profile file as write() saves it, and every file of the profile ("conf" first).
    QByteArray conf() const;
    std::vector<File> files() const;

    // Saves a new profile directory inside rootPath (named as the save names new profiles), which
    // appears complete or not at all. MissingData (message) when a password or key label is
    // still missing; Refused when the name holds a line break.
    SaveResult write(const QString& rootPath = QDir::currentPath()) const;

private:
    struct Line;

    bool fail(const QString& error);
    bool readMaterial(const QString& keyword, const QString& fileName, QByteArray* bytes);
    void handleDirective(const Line& line, QStringList* out);
    bool credentialFate(const QString& keyword, const Line& line);
    bool writeChanged(const Line& line, const QString& text, Reason reason, QStringList* out,
                      const QString& detail = QString());
    void addEntry(const Line& line, Fate fate, Reason reason, const QString& written = QString(),
                  const QString& detail = QString());
    QString emitMaterial(const QString& keyword, const QByteArray& bytes, const QStringList& extra,
                         const Line& line, bool fromFile, QStringList* out);

    QString m_baseDir;
    QString m_error;
    Kind m_kind = Kind::Pkcs12;
    QString m_name;
    QString m_host;
    QString m_port;
    QString m_globalPort;
    bool m_authUserPass = false;
    QString m_challengeText;
    bool m_challengeEcho = false;
    bool m_packing = false;
    bool m_keyEncrypted = false;
    QString m_pkcs11Id;
    QString m_keyLabel;
    QByteArray m_caPem;
    QByteArray m_certPem;
    QByteArray m_keyPem;
    QByteArray m_pkcs12;
    QByteArray m_templateText;
    std::vector<File> m_extraFiles;
    std::vector<Entry> m_report;
};
