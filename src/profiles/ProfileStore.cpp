#include "ProfileStore.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDirIterator>
#include <QFileInfo>
#endif

namespace ProfileStore {

namespace {

#ifdef Q_OS_UNIX
// QFile::decodeName() goes through the locale's converter even for plain ASCII, the usual name.
QString decodeName(const char* name)
{
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80)
            return QFile::decodeName(name);
    }
    return QString::fromLatin1(name, static_cast<qsizetype>(length));
}

// What QDir::entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks) gives, read straight
// from the directory: the toolkit builds and stats a file record per entry, most of the listing's
// cost at thousands of profiles, where the entry's type usually comes with its name.
QStringList listDirs(const QString& rootPath)
{
    QStringList names;
    DIR* dir = ::opendir(QFile::encodeName(rootPath).constData());
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // Hidden entries, "." and ".." included, start with a dot.
        if (entry->d_name[0] == '.')
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st = {};
            isDir = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            names.append(decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}
#else
QStringList listDirs(const QString& rootPath)
{
    return QDir(rootPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
}
#endif

} // namespace

QStringList profileDirNames(const QString& rootPath)
{
    // The same order as QDir::Name | QDir::IgnoreCase, but with each lower-case key made once and
    // compared in place: the toolkit's own sort costs several times the listing itself at
    // thousands of profiles.
    const QStringList names = listDirs(rootPath);
    QStringList keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.append(name.toLower());
    const auto view = [](const QString& text) {
        return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
    };
    std::vector<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const std::u16string_view keyA = view(keys[a]);
        const std::u16string_view keyB = view(keys[b]);
        return keyA != keyB ? keyA < keyB : view(names[a]) < view(names[b]);
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : order)
        sorted.append(names[index]);
    return sorted;
}

namespace {

bool plainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

#ifdef Q_OS_UNIX

namespace {

QString describe(const QString& path, int error)
{
    return path + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(error));
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Opens a directory entry as a directory, refusing a link.
int openDirNoFollow(int parent, const char* name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Unlinks every entry of the open directory; subdirectories are emptied and removed too when
// recurse is set, else left. Returns 0 or the first errno, with *reason naming the entry.
int emptyDirectory(int dirFd, bool recurse, const QString& path, QString* reason)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return errno;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        const int error = errno;
        ::close(listFd);
        return error;
    }
    std::vector<QByteArray> names;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);

    int firstError = 0;
    for (const QByteArray& name : names) {
        const QString childPath = path + QLatin1Char('/') + QFile::decodeName(name);
        struct stat st = {};
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT && !firstError) {
                firstError = errno;
                *reason = describe(childPath, errno);
            }
            continue;
        }
        int error = 0;
        if (S_ISDIR(st.st_mode)) {
            if (!recurse) {
                if (!firstError) {
                    firstError = ENOTEMPTY;
                    *reason = describe(childPath, EISDIR);
                }
                continue;
            }
            const Fd child(openDirNoFollow(dirFd, name.constData()));
            if (child.get() < 0)
                error = errno;
            if (!error)
                error = emptyDirectory(child.get(), true, childPath, reason);
            if (!error && ::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) != 0)
                error = errno;
            if (error && !firstError) {
                firstError = error;
                if (reason->isEmpty())
                    *reason = describe(childPath, error);
            }
            continue;
        }
        if (::unlinkat(dirFd, name.constData(), 0) != 0 && errno != ENOENT && !firstError) {
            firstError = errno;
            *reason = describe(childPath, errno);
        }
    }
    return firstError;
}

// Empties and removes parentPath/name without following links; the reason for what stayed.
bool removeDirectory(const QString& parentPath, const QString& name, bool recurse, QString* reason)
{
    const QString path = parentPath + QLatin1Char('/') + name;
    const Fd parent(::open(QFile::encodeName(parentPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        *reason = describe(parentPath, errno);
        return false;
    }
    const QByteArray encoded = QFile::encodeName(name);
    struct stat st = {};
    if (::fstatat(parent.get(), encoded.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        *reason = describe(path, errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        *reason = describe(path, ELOOP);
        return false;
    }
    const Fd dir(openDirNoFollow(parent.get(), encoded.constData()));
    if (dir.get() < 0) {
        *reason = describe(path, errno);
        return false;
    }
    QString inner;
    const int error = emptyDirectory(dir.get(), recurse, path, &inner);
    if (::unlinkat(parent.get(), encoded.constData(), AT_REMOVEDIR) != 0) {
        *reason = error ? inner : describe(path, errno);
        return false;
    }
    return true;
}

} // namespace

DeleteResult deleteProfile(const QString& rootPath, const QString& dirName)
{
    DeleteResult result;
    if (!plainName(dirName)) {
        result.reason = describe(dirName, EINVAL);
        return result;
    }
    result.deleted = removeDirectory(rootPath, dirName, false, &result.reason);
    return result;
}

bool removeTree(const QString& path, QString* reason)
{
    QString ignored;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash < 0    ? QStringLiteral(".")
                           : slash == 0 ? QStringLiteral("/")
                                        : path.left(slash);
    return removeDirectory(parent, path.mid(slash + 1), true, reason ? reason : &ignored);
}

#else

namespace {

QString describe(const QString& path, const QString& what)
{
    return path + QLatin1String(": ") + what;
}

bool removeEntries(const QString& path, bool recurse, QString* reason)
{
    bool ok = true;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString child = it.next();
        const QFileInfo info(child);
        if (info.isDir() && !info.isSymLink()) {
            if (!recurse || !removeEntries(child, true, reason) || !QDir().rmdir(child)) {
                if (ok && reason->isEmpty())
                    *reason = describe(child, QStringLiteral("directory not removed"));
                ok = false;
            }
        } else if (!QFile::remove(child)) {
            if (ok)
                *reason = describe(child, QStringLiteral("not removed"));
            ok = false;
        }
    }
    return ok;
}

bool removeDirectory(const QString& path, bool recurse, QString* reason)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir()) {
        *reason = describe(path, QStringLiteral("not a directory"));
        return false;
    }
    removeEntries(path, recurse, reason);
    if (!QDir().rmdir(path)) {
        if (reason->isEmpty())
            *reason = describe(path, QStringLiteral("directory not removed"));
        return false;
    }
    return true;
}

} // namespace

DeleteResult deleteProfile(const QString& rootPath, const QString& dirName)
{
    DeleteResult result;
    if (!plainName(dirName)) {
        result.reason = describe(dirName, QStringLiteral("not a profile directory name"));
        return result;
    }
    result.deleted = removeDirectory(rootPath + QLatin1Char('/') + dirName, false, &result.reason);
    return result;
}

bool removeTree(const QString& path, QString* reason)
{
    QString ignored;
    return removeDirectory(path, true, reason ? reason : &ignored);
}

#endif

} // namespace ProfileStore
