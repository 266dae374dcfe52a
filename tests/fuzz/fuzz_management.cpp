// The engine's side of OpenVPN's management interface, fed what an OpenVPN (or anything that gets
// hold of the socket) may send, in pieces of any size.

#include "management.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const CredentialKind kind = (data[0] & 1) ? CredentialKind::TokenPin : CredentialKind::Pkcs12Password;
    const std::size_t piece = 1 + (data[0] >> 1);
    Management management(kind, "0123456789abcdef0123456789abcdef", "s3cret",
                          {std::string("\x30\x03\x02\x01\x01", 5)});
    management.reportEvents((data[0] & 2) ? 2 : 0);
    std::size_t replies = 0;
    for (std::size_t at = 1; at < size; at += piece) {
        management.feed(std::string(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at)));
        replies += management.takeReply().size();
        management.takeNotes();
        management.takeEvents();
    }
    // No request may make the engine send far more than it was sent.
    if (replies > 1024 * size + 4096) {
        __builtin_trap();
    }
    management.wrongSecret();
    management.failure();
    decodeBase64(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
