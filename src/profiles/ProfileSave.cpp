#include "ProfileSave.h"

#include "ConfReader.h"
#include "ProfileStore.h"
#include "RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ProfileSave {

const char* const missingDataTitle = QT_TRANSLATE_NOOP("ProfileSave", "Missing data");
const char* const refusedTitle = QT_TRANSLATE_NOOP("ProfileSave", "Invalid data");
const char* const errorTitle = QT_TRANSLATE_NOOP("ProfileSave", "Error");
const char* const errorText = QT_TRANSLATE_NOOP("ProfileSave", "VPN connection could not be saved:\n%1");
const char* const defaultPort = "1194";
const char* const templateMarker = "\n#\n# configuration template\n#\n\n";
const char* const unreadableText =
    QT_TRANSLATE_NOOP("ProfileSave", "Certificate file %1 cannot be read or is empty!");

namespace {

const char* const nameMissing = QT_TRANSLATE_NOOP("ProfileSave", "Enter VPN connection name!");
const char* const serverMissing = QT_TRANSLATE_NOOP("ProfileSave", "Enter VPN server name or IP address!");
const char* const caMissing = QT_TRANSLATE_NOOP("ProfileSave", "Select CA certificate file!");
const char* const userMissing = QT_TRANSLATE_NOOP("ProfileSave", "Select User certificate file!");
const char* const keyMissing = QT_TRANSLATE_NOOP("ProfileSave", "Select private key file!");
const char* const pkcs12Missing = QT_TRANSLATE_NOOP("ProfileSave", "Select PKCS#12 certificate file!");

const char* const nameRefused =
    QT_TRANSLATE_NOOP("ProfileSave", "VPN connection name must not contain line breaks!");
const char* const serverRefused =
    QT_TRANSLATE_NOOP("ProfileSave", "VPN server name must not contain line breaks!");
const char* const keyRefused =
    QT_TRANSLATE_NOOP("ProfileSave", "Private key name must not contain line breaks!");
const char* const pkcs12Refused =
    QT_TRANSLATE_NOOP("ProfileSave", "PKCS#12 certificate file path must not contain line breaks!");

const char* const certHeader =
    "#\n# qLumarVpnName %1\n#\nremote %2\nrport %3\nca ca\ncert user\nkey \"%4\"\n";
const char* const pkcs12Header = "#\n# qLumarVpnName %1\n#\nremote %2\nrport %3\npkcs12 %4\n";

bool hasLineBreak(const QString& value)
{
    return value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
}

SaveResult outcome(SaveResult::Status status, const char* message = nullptr)
{
    SaveResult result;
    result.status = status;
    result.message = message;
    return result;
}

SaveResult failure(const QString& reason)
{
    SaveResult result;
    result.status = SaveResult::Failed;
    result.reason = reason;
    return result;
}

QString describe(const QString& path, int error)
{
    return path + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(error));
}

QString describe(const QFileDevice& file)
{
    return file.fileName() + QLatin1String(": ") + file.errorString();
}

RenameFunction& renameFunction()
{
    static RenameFunction function = &systemRename;
    return function;
}

int renameDir(const QString& from, const QString& to, RenameMode mode)
{
    return renameFunction()(from, to, mode);
}

struct FileToWrite
{
    QString name;
    QByteArray bytes;
};

// Writes one new file and makes sure every byte reached the disk: a write that only filled the
// buffer, a full disk at flush or close, all come back as the system's own reason.
bool writeFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *reason = describe(out);
        return false;
    }
    bool ok = out.write(bytes) == bytes.size() && out.flush();
#ifdef Q_OS_UNIX
    if (ok && ::fsync(out.handle()) != 0) {
        *reason = describe(path, errno);
        return false;
    }
#endif
    if (ok)
        out.close();
    ok = ok && out.error() == QFileDevice::NoError;
    if (!ok)
        *reason = describe(out);
    return ok;
}

bool writeFiles(const QString& dirPath, const std::vector<FileToWrite>& files, QString* reason)
{
    for (const FileToWrite& file : files) {
        if (!writeFile(dirPath + QLatin1Char('/') + file.name, file.bytes, reason))
            return false;
    }
    return true;
}

std::vector<FileToWrite> profileFiles(ProfileKind kind, const ProfileFields& fields, const QByteArray& tail)
{
    std::vector<FileToWrite> files;
    files.push_back({QStringLiteral("conf"), headerText(kind, fields) + tail});
    if (kind == ProfileKind::CertificateAndKey) {
        files.push_back({QStringLiteral("ca"), fields.caContents});
        files.push_back({QStringLiteral("user"), fields.userContents});
    }
    return files;
}

QString cannotCreate(const QString& path)
{
    return QCoreApplication::translate("ProfileSave", "cannot create the directory %1").arg(path);
}

// A hidden directory in the root: never listed as a profile, and on the same file system as the
// profile it replaces, so it can be renamed into place.
QString makeStagingDir(const QString& rootPath, const char* prefix, QString* reason)
{
    QDir root(rootPath);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate =
            QLatin1String(prefix) +
            QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        if (!root.exists(candidate) && root.mkdir(candidate))
            return root.filePath(candidate);
    }
    *reason = cannotCreate(rootPath + QLatin1Char('/') + QLatin1String(prefix) + QLatin1Char('*'));
    return QString();
}

SaveResult discardStaging(const QString& staging, const QString& reason)
{
    ProfileStore::removeTree(staging);
    return failure(reason);
}

#ifdef Q_OS_UNIX

// Copies one entry of the old profile into the new one as what it is: a link stays a link and
// is never followed, a directory is copied whole, and the permissions stay.
bool copyEntry(const QString& from, const QString& to, QString* reason)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    struct stat st = {};
    if (::lstat(src.constData(), &st) != 0) {
        *reason = describe(from, errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(qsizetype(st.st_size) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(src.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size()) {
            *reason = describe(from, n < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        target.truncate(n);
        if (::symlink(target.constData(), dst.constData()) != 0) {
            *reason = describe(to, errno);
            return false;
        }
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(dst.constData(), st.st_mode & 07777) != 0) {
            *reason = describe(to, errno);
            return false;
        }
        const QStringList names =
            QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (!copyEntry(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name, reason))
                return false;
        }
        ::chmod(dst.constData(), st.st_mode & 07777);
        return true;
    }
    if (S_ISFIFO(st.st_mode)) {
        if (::mkfifo(dst.constData(), st.st_mode & 07777) != 0) {
            *reason = describe(to, errno);
            return false;
        }
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = describe(from, ENOTSUP);
        return false;
    }
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        *reason = describe(in);
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        *reason = describe(in);
        return false;
    }
    if (!writeFile(to, bytes, reason))
        return false;
    ::chmod(dst.constData(), st.st_mode & 07777);
    return true;
}

// A directory or a link standing where the edit writes a file.
bool isDirectoryEntry(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRealDirectory(const QString& path, int* error)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        *error = errno;
        return false;
    }
    *error = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
    return S_ISDIR(st.st_mode);
}

void copyPermissions(const QString& from, const QString& to)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(from).constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(QFile::encodeName(to).constData(), st.st_mode & 07777);
}

#else

bool copyEntry(const QString& from, const QString& to, QString* reason)
{
    const QFileInfo info(from);
    if (info.isDir() && !info.isSymLink()) {
        if (!QDir().mkdir(to)) {
            *reason = cannotCreate(to);
            return false;
        }
        const QStringList names =
            QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (!copyEntry(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name, reason))
                return false;
        }
        return true;
    }
    QFile in(from);
    if (!in.copy(to)) {
        *reason = describe(in);
        return false;
    }
    return true;
}

bool isDirectoryEntry(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

bool isRealDirectory(const QString& path, int* error)
{
    const QFileInfo info(path);
    *error = ENOTDIR;
    return info.isDir() && !info.isSymLink();
}

void copyPermissions(const QString& from, const QString& to)
{
    if (QFileInfo(from).isFile())
        QFile::setPermissions(to, QFile::permissions(from));
}

#endif

// A new profile is assembled in a hidden directory (never listed as a profile) and renamed to its
// final name at the end, so the list never shows a half-written profile.
SaveResult saveNew(ProfileKind kind, const ProfileFields& fields, const QString& rootPath)
{
    QString reason;
    const QString staging = makeStagingDir(rootPath, ".new-", &reason);
    if (staging.isEmpty())
        return failure(reason);

    const QByteArray tail = QByteArray(templateMarker) + fields.templateContents;
    if (!writeFiles(staging, profileFiles(kind, fields, tail), &reason))
        return discardStaging(staging, reason);
    const QString dirName = newProfileDirName(rootPath);
    const QString target = rootPath + QLatin1Char('/') + dirName;
    if (const int error = renameDir(staging, target, RenameMode::NoReplace))
        return discardStaging(staging, cannotCreate(target) + QLatin1String(": ") +
                                           QString::fromLocal8Bit(std::strerror(error)));
    SaveResult result = outcome(SaveResult::Saved);
    result.dirName = dirName;
    return result;
}

// The old profile moved aside, the new one renamed in, and the old one back when that fails.
// Only for file systems that cannot exchange two directories in one step.
SaveResult replaceByRenames(const QString& staging, const QString& dirPath, const QString& rootPath)
{
    QString reason;
    const QString aside = makeStagingDir(rootPath, ".old-", &reason);
    if (aside.isEmpty())
        return discardStaging(staging, reason);
    QDir().rmdir(aside); // only the unused name is wanted
    if (const int error = renameDir(dirPath, aside, RenameMode::NoReplace))
        return discardStaging(staging, describe(dirPath, error));
    if (const int error = renameDir(staging, dirPath, RenameMode::NoReplace)) {
        reason = describe(dirPath, error);
        if (const int restoreError = renameDir(aside, dirPath, RenameMode::NoReplace)) {
            reason += QLatin1Char('\n') +
                      QCoreApplication::translate("ProfileSave", "the old profile is kept in %1: %2")
                          .arg(aside, QString::fromLocal8Bit(std::strerror(restoreError)));
        }
        return discardStaging(staging, reason);
    }
    ProfileStore::removeTree(aside);
    return outcome(SaveResult::Saved);
}

SaveResult saveEdit(ProfileKind kind, const ProfileFields& fields, const QString& dirName,
                    const QString& rootPath)
{
    const QString dirPath = rootPath + QLatin1Char('/') + dirName;
    int error = 0;
    if (dirName.isEmpty() || dirName.startsWith(QLatin1Char('.')) || dirName.contains(QLatin1Char('/')) ||
        !isRealDirectory(dirPath, &error))
        return failure(describe(dirPath, error ? error : EINVAL));

    const std::vector<FileToWrite> placeholder = profileFiles(kind, fields, QByteArray());
    QStringList written;
    for (const FileToWrite& file : placeholder) {
        // The edit replaces files only; a directory standing there is the user's to sort out.
        if (isDirectoryEntry(dirPath + QLatin1Char('/') + file.name))
            return failure(describe(dirPath + QLatin1Char('/') + file.name, EISDIR));
        written.append(file.name);
    }

    // A "conf" that is no regular file (a FIFO, a device) has no template to keep; a regular one
    // that cannot be read must not lose its template.
    const QString confPath = dirPath + QLatin1String("/conf");
    QString reason;
    QByteArray oldBytes;
    if (const auto bytes = RegularFile::read(confPath, ConfReader::confLimit, &reason))
        oldBytes = *bytes;
    else if (QFileInfo(confPath).isFile())
        return failure(confPath + QLatin1String(": ") + reason);

    QStringList dropped = written;
    if (kind == ProfileKind::CertificateAndKey) {
        // Leftovers of an older file layout.
        for (const char* legacy : {"ca.cert", "user.cert"}) {
            if (!isDirectoryEntry(dirPath + QLatin1Char('/') + QLatin1String(legacy)))
                dropped.append(QLatin1String(legacy));
        }
    }

    const QString staging = makeStagingDir(rootPath, ".edit-", &reason);
    if (staging.isEmpty())
        return failure(reason);
    QFile::setPermissions(staging, QFile::permissions(dirPath));
    const QStringList kept =
        QDir(dirPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : kept) {
        if (!dropped.contains(name) &&
            !copyEntry(dirPath + QLatin1Char('/') + name, staging + QLatin1Char('/') + name, &reason))
            return discardStaging(staging, reason);
    }
    if (!writeFiles(staging, profileFiles(kind, fields, keptTemplate(oldBytes)), &reason))
        return discardStaging(staging, reason);
    for (const QString& name : written)
        copyPermissions(dirPath + QLatin1Char('/') + name, staging + QLatin1Char('/') + name);

    error = renameDir(staging, dirPath, RenameMode::Exchange);
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        const SaveResult replaced = replaceByRenames(staging, dirPath, rootPath);
        if (replaced.status == SaveResult::Failed)
            return replaced;
    } else if (error) {
        return discardStaging(staging, describe(dirPath, error));
    } else {
        ProfileStore::removeTree(staging); // the old profile, now under the staging name
    }
    SaveResult result = outcome(SaveResult::Saved);
    result.dirName = dirName;
    return result;
}

// The bytes a certificate field stands for: those read through Select or at the dialog's start,
// or, when the field names another file, that file's, read now.
bool certificateBytes(const QString& field, const QString& readFrom, QByteArray* contents)
{
    if (field == readFrom)
        return true;
    const auto bytes = RegularFile::read(field);
    if (!bytes || bytes->isEmpty())
        return false;
    *contents = *bytes;
    return true;
}

} // namespace

QString newProfileDirName(const QString& rootPath)
{
    QSet<qlonglong> used;
    const QStringList names = QDir(rootPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const qlonglong number = name.toLongLong(&ok, 16);
        if (ok && number >= 0)
            used.insert(number);
    }
    qlonglong number = 0;
    while (used.contains(number))
        ++number;
    return QString::number(number, 16).rightJustified(4, QLatin1Char('0'));
}

void splitServer(const QString& server, QString* host, QString* port)
{
    QStringList pieces = server.split(QLatin1Char(':'));
    if (pieces.size() == 1)
        pieces.append(QLatin1String(defaultPort));
    *host = pieces.at(0);
    *port = pieces.at(1);
}

QByteArray headerText(ProfileKind kind, const ProfileFields& fields)
{
    QString host;
    QString port;
    splitServer(fields.server, &host, &port);
    // One pass over the markers: a '%2' typed into the name must stay as typed.
    if (kind == ProfileKind::CertificateAndKey)
        return QString::fromLatin1(certHeader).arg(fields.name, host, port, fields.keyField).toUtf8();
    if (kind == ProfileKind::UserPassword) {
        QByteArray header =
            QString::fromLatin1(pkcs12Header).arg(fields.name, host, port, QString()).toUtf8();
        header.chop(qsizetype(sizeof("pkcs12 \n") - 1));
        return header;
    }
    return QString::fromLatin1(pkcs12Header).arg(fields.name, host, port, fields.pkcs12Field).toUtf8();
}

QByteArray keptTemplate(const QByteArray& oldConf)
{
    const qsizetype at = oldConf.indexOf(templateMarker);
    return at < 0 ? QByteArray() : oldConf.mid(at);
}

SaveResult check(ProfileKind kind, const ProfileFields& fields)
{
    const bool cert = kind == ProfileKind::CertificateAndKey;
    if (fields.name.isEmpty())
        return outcome(SaveResult::MissingData, nameMissing);
    if (fields.server.isEmpty())
        return outcome(SaveResult::MissingData, serverMissing);
    if (cert) {
        if (fields.caField.isEmpty())
            return outcome(SaveResult::MissingData, caMissing);
        if (fields.userField.isEmpty())
            return outcome(SaveResult::MissingData, userMissing);
        if (fields.keyField.isEmpty())
            return outcome(SaveResult::MissingData, keyMissing);
    } else if (kind == ProfileKind::Pkcs12 && fields.pkcs12Field.isEmpty()) {
        return outcome(SaveResult::MissingData, pkcs12Missing);
    }

    // "conf" is the engine's configuration: a line break in a value would start a directive of
    // the user's choosing.
    if (hasLineBreak(fields.name))
        return outcome(SaveResult::Refused, nameRefused);
    if (hasLineBreak(fields.server))
        return outcome(SaveResult::Refused, serverRefused);
    if (cert && hasLineBreak(fields.keyField))
        return outcome(SaveResult::Refused, keyRefused);
    if (kind == ProfileKind::Pkcs12 && hasLineBreak(fields.pkcs12Field))
        return outcome(SaveResult::Refused, pkcs12Refused);
    return outcome(SaveResult::Saved);
}

SaveResult save(ProfileKind kind, const ProfileFields& fields, const QString& editDirName,
                const QString& rootPath)
{
    SaveResult checked = check(kind, fields);
    if (checked.status != SaveResult::Saved)
        return checked;
    ProfileFields read = fields;
    if (kind == ProfileKind::CertificateAndKey) {
        for (auto [field, from, contents] :
             {std::tuple(&read.caField, &read.caReadFrom, &read.caContents),
              std::tuple(&read.userField, &read.userReadFrom, &read.userContents)}) {
            if (!certificateBytes(*field, *from, contents)) {
                SaveResult result = outcome(SaveResult::Unreadable, unreadableText);
                result.reason = *field;
                return result;
            }
        }
    }
    if (editDirName.isEmpty())
        return saveNew(kind, read, rootPath);
    return saveEdit(kind, read, editDirName, rootPath);
}

int systemRename(const QString& from, const QString& to, RenameMode mode)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
#ifdef Q_OS_LINUX
    const unsigned flags = mode == RenameMode::Exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), flags) == 0)
        return 0;
    // Without RENAME_NOREPLACE support a check before the rename is the best there is.
    if (mode == RenameMode::Exchange || (errno != EINVAL && errno != ENOSYS))
        return errno;
#else
    if (mode == RenameMode::Exchange)
        return ENOSYS;
#endif
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink())
        return EEXIST;
    return ::rename(src.constData(), dst.constData()) == 0 ? 0 : errno;
}

void setRenameFunction(RenameFunction function)
{
    renameFunction() = function ? function : &systemRename;
}

} // namespace ProfileSave
