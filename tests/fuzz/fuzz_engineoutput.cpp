// The manager's handling of whatever the engine (or an OpenVPN behind it) writes.

#include "connection/EngineOutput.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray pending(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Read as the manager reads: pieces of at most maxReadBytes, never cutting a line while more is
    // pending; every byte is taken exactly once.
    qsizetype taken = 0;
    while (taken < pending.size()) {
        const QByteArray head = pending.mid(taken, EngineOutput::maxReadBytes);
        const bool more = taken + head.size() < pending.size();
        const qsizetype length = EngineOutput::readLength(head, more);
        if (length <= 0 || length > head.size()) {
            __builtin_trap();
        }
        const QString chunk = EngineOutput::decodeChunk(head.left(length));
        if (chunk.size() > length) {
            __builtin_trap();
        }
        EngineOutput::recognise(chunk);
        taken += length;
    }
    return 0;
}
