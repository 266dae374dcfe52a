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
// last line break, so no line is cut in two by the manager.
qsizetype readLength(const QByteArray& head, bool morePending);

// One read of the engine's output: the bytes before the first NUL, each one Latin-1 character.
QString decodeChunk(const QByteArray& bytes);

struct Recognised
{
    bool tunnelUp = false;
    bool passwordError = false;
};

// Searches one decoded read. Searching each read on its own finds exactly what searching the
// whole log did: the log puts a line break between reads, and none of the texts holds one.
Recognised recognise(QStringView chunk);

} // namespace EngineOutput
