#include "RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace RegularFile {

namespace {

std::optional<QByteArray> fail(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
    return std::nullopt;
}

QString notRegular()
{
    return QCoreApplication::translate("RegularFile", "not a regular file");
}

QString tooLarge(qint64 limit)
{
    return QCoreApplication::translate("RegularFile", "larger than %1 bytes").arg(limit);
}

} // namespace

#ifdef Q_OS_UNIX

std::optional<QByteArray> read(const QString& path, qint64 limit, QString* reason)
{
    // Non-blocking, so opening a FIFO returns at once; the type is checked on the open file, so
    // a swap after the check cannot slip a device in.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return fail(reason, notRegular());
    if (st.st_size > limit)
        return fail(reason, tooLarge(limit));

    // One byte more than allowed tells a file that grew since fstat.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit)
                return fail(reason, tooLarge(limit));
            bytes.resize(qMin<qint64>(limit + 1, qint64(bytes.size()) * 2 + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > limit)
        return fail(reason, tooLarge(limit));
    bytes.truncate(got);
    return bytes;
}

#else

std::optional<QByteArray> read(const QString& path, qint64 limit, QString* reason)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(reason, notRegular());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(reason, file.errorString());
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        return fail(reason, tooLarge(limit));
    if (file.error() != QFileDevice::NoError)
        return fail(reason, file.errorString());
    return bytes;
}

#endif

} // namespace RegularFile
