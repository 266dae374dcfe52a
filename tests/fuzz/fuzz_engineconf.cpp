// The engine's reading of a profile's conf, and its translation into OpenVPN's configuration.

#include "conf.h"
#include "openvpn_conf.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ConfResult conf = parseConf(text, "conf");
    if (conf.ok && conf.conf.remote.empty()) {
        __builtin_trap();
    }
    if (conf.ok && (conf.conf.port < 1 || conf.conf.port > 65535)) {
        __builtin_trap();
    }

    // OpenVPN's "line N" messages must point at line N of the profile.
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                       (!text.empty() && text.back() != '\n' ? 1 : 0);
    for (CredentialKind kind : {CredentialKind::Pkcs12Password, CredentialKind::TokenPin}) {
        const OpenVpnConf translated = translateConf(text, "conf", kind);
        if (static_cast<std::size_t>(std::count(translated.text.begin(), translated.text.end(), '\n')) !=
            lines) {
            __builtin_trap();
        }
    }
    return 0;
}
