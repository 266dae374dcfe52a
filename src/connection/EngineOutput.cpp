#include "EngineOutput.h"

#include "profiles/RegularFile.h"

#include <QStringDecoder>

namespace EngineOutput {

namespace {

bool isContinuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xc0) == 0x80;
}

// The length of the sequence a UTF-8 lead byte begins; 1 for anything else.
int sequenceLength(char byte)
{
    const auto b = static_cast<unsigned char>(byte);
    if (b >= 0xf0 && b <= 0xf4)
        return 4;
    if (b >= 0xe0 && b < 0xf0)
        return 3;
    if (b >= 0xc2 && b < 0xe0)
        return 2;
    return 1;
}

// Where a last UTF-8 sequence that is not complete begins in `size` bytes at `data`; `size`
// when there is none.
qsizetype incompleteTail(const char* data, qsizetype size)
{
    qsizetype lead = size;
    while (lead > 0 && size - lead < 3 && isContinuation(data[lead - 1]))
        --lead;
    if (lead == 0)
        return size;
    --lead;
    return sequenceLength(data[lead]) > size - lead ? lead : size;
}

// Where the bytes may be cut so no UTF-8 character is split. Bytes that are not UTF-8 at all
// are cut anywhere, and something is always taken.
qsizetype characterBoundary(const char* data, qsizetype size)
{
    const qsizetype tail = incompleteTail(data, size);
    return tail > 0 ? tail : size;
}

// Whether the bytes are UTF-8 up to an incomplete character at their end.
bool endsInsideCharacter(const char* data, qsizetype size)
{
    const qsizetype tail = incompleteTail(data, size);
    if (tail == size)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoder converts, and finds errors, only when its result is taken.
    const QString before = utf8.decode(QByteArrayView(data, tail));
    Q_UNUSED(before)
    return !utf8.hasError();
}

} // namespace

qsizetype readLength(const QByteArray& head, bool morePending)
{
    if (!morePending)
        return head.size();
    const qsizetype lineEnd = head.lastIndexOf('\n');
    if (lineEnd >= 0)
        return lineEnd + 1;
    return characterBoundary(head.constData(), head.size());
}

QString decodeChunk(const QByteArray& bytes)
{
    const QByteArrayView text = RegularFile::upToNul(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(text);
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(text);
}

Recognised recognise(QStringView chunk)
{
    // The log's plain text shows a no-break space as a plain one, and it used to be searched.
    QString normalised;
    if (chunk.contains(QChar::Nbsp)) {
        normalised = chunk.toString();
        normalised.replace(QChar::Nbsp, QLatin1Char(' '));
        chunk = normalised;
    }
    Recognised found;
    found.tunnelUp = chunk.contains(QLatin1String(tunnelUpText));
    found.passwordError = chunk.contains(QLatin1String(wrongPasswordText)) ||
                          chunk.contains(QLatin1String(keyDecryptErrorText));
    return found;
}

void Backlog::append(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    // Handled bytes are given back only once they are most of the array, so taking a read
    // costs no copy of what is still pending.
    if (m_head > 0 && m_head >= m_bytes.size() / 2) {
        m_bytes.remove(0, m_head);
        m_head = 0;
    }
    m_bytes += bytes;
}

void Backlog::clear()
{
    m_bytes = QByteArray();
    m_head = 0;
}

QByteArray Backlog::take(qsizetype limit, bool moreMayCome)
{
    const qsizetype pending = size();
    const qsizetype headSize = qMin(pending, qMin(limit, qsizetype(maxReadBytes)));
    const QByteArray head = QByteArray::fromRawData(m_bytes.constData() + m_head, headSize);
    qsizetype length = readLength(head, pending > headSize);
    if (moreMayCome && length == pending && endsInsideCharacter(head.constData(), length))
        length = 0;
    QByteArray read(head.constData(), length);
    discard(length);
    return read;
}

void Backlog::discard(qsizetype count)
{
    m_head += qBound(qsizetype(0), count, size());
    if (m_head == m_bytes.size())
        clear();
}

qsizetype Backlog::hiddenBytes(int maxLines, qsizetype maxBytes) const
{
    const char* data = m_bytes.constData() + m_head;
    const qsizetype pending = size();
    qsizetype start = qMax(qsizetype(0), pending - maxBytes);
    // Each break but a final one begins a line of the tail after it.
    const qsizetype end = pending > 0 && data[pending - 1] == '\n' ? pending - 1 : pending;
    int lines = 0;
    for (qsizetype i = end - 1; i >= start; --i) {
        if (data[i] == '\n' && ++lines >= maxLines)
            return i + 1;
    }
    // Cut by the byte limit in the middle of a line: begin at the next whole character.
    for (int i = 0; i < 3 && start > 0 && start < pending && isContinuation(data[start]); ++i)
        ++start;
    return start;
}

} // namespace EngineOutput
