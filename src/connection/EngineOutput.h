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
