#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// What the manager understands of the engine's output: three texts, each recognised only when it
// arrives within one read.
namespace EngineOutput {

inline constexpr char tunnelUpText[] = "Initialization Sequence Completed";
inline constexpr char wrongPasswordText[] = "Error: private key password verification failed";
// The key decryption failure code of older engines built with OpenSSL 1.0.
inline constexpr char keyDecryptErrorText[] = "error:0906A065";

// The most the manager takes from the engine's output in one read. A flood of output is handled
// in reads of this size, one per event-loop turn, so the window stays responsive.
inline constexpr qint64 maxReadBytes = 8 * 1024;

// How many bytes of the pending output to take as the next read, given its first bytes (at most
// maxReadBytes) and whether more is pending. A read that leaves output pending ends after its
// last line break, so no line is cut in two by the manager; a line longer than a read is cut
// where no UTF-8 character is cut in two.
qsizetype readLength(const QByteArray& head, bool morePending);

// One read of the engine's output: the bytes before the first NUL, as UTF-8 when they are valid
// UTF-8 (the engine writes names and paths from the UTF-8 "conf"), else each one Latin-1 character.
QString decodeChunk(const QByteArray& bytes);

struct Recognised
{
    bool tunnelUp = false;
    bool passwordError = false;
};

// Searches one decoded read. Searching each read on its own finds exactly what searching the
// whole log did: the log puts a line break between reads, and none of the texts holds one.
Recognised recognise(QStringView chunk);

// The output of one of the engine's streams that the manager has taken from the pipe but not
// yet handled, oldest first.
class Backlog
{
public:
    void append(const QByteArray& bytes);
    void clear();
    qsizetype size() const { return m_bytes.size() - m_head; }
    bool isEmpty() const { return size() == 0; }

    // The next read as readLength() cuts it, at most `limit` bytes. While the engine may still
    // write (`moreMayCome`), a last read that is UTF-8 up to a character whose rest has not
    // arrived is not taken at all: a pipe read can end inside a character, and shown then, the
    // whole read would be taken for Latin-1. Output that is no UTF-8 anyway is taken whole.
    QByteArray take(qsizetype limit = maxReadBytes, bool moreMayCome = false);
    void discard(qsizetype count);

    // How many of the oldest bytes a log that shows only its newest `maxLines` lines and
    // `maxBytes` bytes would never show, given that nothing else is added after them. The rest
    // begins a line, or a UTF-8 character when one line alone is longer than maxBytes.
    qsizetype hiddenBytes(int maxLines, qsizetype maxBytes) const;

private:
    QByteArray m_bytes;
    qsizetype m_head = 0; // bytes before it are handled; dropped from the array in large steps
};

} // namespace EngineOutput
