// The import of an OpenVPN client file: any bytes, as a downloaded file may hold anything. Whatever
// the import accepts, the manager's reader must read back the name, server and port it shows.

#include "profiles/ConfReader.h"
#include "profiles/OvpnImport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    OvpnImport import;
    // No file beside it can be read: only inline material counts.
    if (!import.read(bytes, QStringLiteral("fuzz"), QStringLiteral("/nonexistent-fuzz-dir"))) {
        return 0;
    }
    import.setKeyLabel(QStringLiteral("label"));
    const ProfileData read = ConfReader::read(import.conf());
    const bool pkcs12 = import.kind() == OvpnImport::Kind::Pkcs12;
    const bool token = import.kind() == OvpnImport::Kind::CertificateAndTokenKey;
    if (read.vpnName != import.name() || read.server != import.host() || read.port != import.port() ||
        read.pkcs12File != (pkcs12 ? QStringLiteral("user.p12") : QString()) ||
        read.keyName != (token ? QStringLiteral("label") : QString())) {
        __builtin_trap();
    }
    return 0;
}
