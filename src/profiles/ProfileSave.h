#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

// What the four connection dialogs hand to the save: their text fields as typed and the bytes they
// hold. The certificate-and-key kind uses caField, userField, keyField, caContents and
// userContents; the PKCS#12 kind uses pkcs12Field. templateContents is used by new profiles only:
// an edit keeps the template section of the existing "conf".
//
// caReadFrom and userReadFrom name the file the contents were read from (through Select, or the
// stored copy an edit dialog opened with). When a certificate field names another file, typed or
// pasted, the save reads that file instead.
struct ProfileFields
{
    QString name;
    QString server;
    QString caField;
    QString userField;
    QString keyField;
    QString pkcs12Field;
    QByteArray caContents;
    QByteArray userContents;
    QByteArray templateContents;
    QString caReadFrom;
    QString userReadFrom;
};

// UserPassword: a profile that signs in with a username and password alone ("auth-user-pass" in its
// template): name and server, no key material.
enum class ProfileKind { CertificateAndKey, Pkcs12, UserPassword };

struct SaveResult
{
    enum Status {
        Saved,       // dirName names the profile directory
        MissingData, // message: the untranslated text of the first empty required field
        Refused,     // message: the untranslated text naming the field that holds a line break
        Failed,      // reason: why the files could not be written; nothing on disk changed
        Unreadable,  // message: the untranslated text, %1 = reason: the certificate file that
                     // could not be read or is empty
    };
    Status status = Failed;
    QString dirName;
    const char* message = nullptr;
    QString reason;
};

namespace ProfileSave {

// Untranslated texts; the dialogs show them translated in their own class's context.
extern const char* const missingDataTitle; // "Missing data"
extern const char* const refusedTitle;
extern const char* const errorTitle;     // "Error"
extern const char* const errorText;      // %1 = the reason
extern const char* const unreadableText; // %1 = the certificate file
extern const char* const defaultPort;    // "1194"
extern const char* const templateMarker;

// The smallest unused hexadecimal number among the subdirectories of rootPath, as at least four
// lowercase digits ("0000", "000a", "10000"). Names that are not hexadecimal do not count.
QString newProfileDirName(const QString& rootPath = QDir::currentPath());

// Host and port of a server field: text before the first ':' and between it and the next one;
// "1194" when there is no ':'. Nothing is trimmed.
void splitServer(const QString& server, QString* host, QString* port);

// The header of "conf" for the kind, as UTF-8.
QByteArray headerText(ProfileKind kind, const ProfileFields& fields);

// The part of an old "conf" an edit keeps: from the first template marker to the end, or nothing.
QByteArray keptTemplate(const QByteArray& oldConf);

// The required-field check, then the refusal of line breaks in values that go into "conf".
// Returns Saved (with no dirName) when the fields may be written.
SaveResult check(ProfileKind kind, const ProfileFields& fields);

// Checks and writes a profile inside rootPath. editDirName empty: a new profile in a directory
// chosen by newProfileDirName(), which appears complete or not at all. Otherwise the existing
// profile directory editDirName is rewritten keeping its template section and every file the
// save does not write: the new directory is built beside the old one and the two are swapped in
// one step, so after a failure the old directory is there unchanged, and no staging directory is
// left behind.
SaveResult save(ProfileKind kind, const ProfileFields& fields, const QString& editDirName,
                const QString& rootPath = QDir::currentPath());

// The calls that move a finished directory into place. NoReplace fails when the target exists;
// Exchange swaps two existing directories atomically and fails with EINVAL or ENOSYS where the
// file system or platform cannot, which makes the save move the old one aside instead. Return 0
// or an errno value. Tests replace the function to make any single step fail.
enum class RenameMode { NoReplace, Exchange };
using RenameFunction = int (*)(const QString& from, const QString& to, RenameMode mode);
int systemRename(const QString& from, const QString& to, RenameMode mode);
void setRenameFunction(RenameFunction function); // null: systemRename

} // namespace ProfileSave
