// The manager's reader of a profile's conf: any bytes, as a profile directory may hold anything.

#include "profiles/ConfReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ProfileData profile = ConfReader::read(bytes);
    // Values come from single lines.
    for (const QString* value : {&profile.vpnName, &profile.server, &profile.port, &profile.caCert,
                                 &profile.userCert, &profile.keyName, &profile.pkcs12File}) {
        if (value->contains(QLatin1Char('\n'))) {
            __builtin_trap();
        }
    }
    return 0;
}
