// The version file as any server may answer it.

#include "about/VersionFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const char* language : {"en", "pl"}) {
        const auto release = VersionFile::newerRelease(body, QStringLiteral("dudidudovi"),
                                                       QLatin1String(language), QStringLiteral("1.5"));
        // Only web addresses, and only newer versions, are ever offered.
        if (release && (!VersionFile::isWebAddress(release->linkUrl) ||
                        !(VersionFile::versionValue(release->version) > 1.5))) {
            __builtin_trap();
        }
    }
    const QString text = VersionFile::decode(body);
    for (const QString& line : VersionFile::splitLines(text)) {
        VersionFile::splitFields(line);
        VersionFile::versionValue(line);
    }
    return 0;
}
