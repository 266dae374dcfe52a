// Reads the certificates of one file through the program's own code, in a process that, like the
// program, does not link libcrypto: tst_certificates checks that libcrypto comes with the first
// read and that the read works.
//   crypto_on_demand FILE     prints "before 0|1", "after 0|1", then "cn NAME" per certificate

#include "profiles/CertificateInfo.h"

#include <QCoreApplication>

#include <cstdio>
#include <dlfcn.h>
#include <openssl/opensslv.h>

namespace {

#define QLUMAR_STRINGIZE2(x) #x
#define QLUMAR_STRINGIZE(x) QLUMAR_STRINGIZE2(x)

bool libcryptoLoaded()
{
    return dlopen("libcrypto.so." QLUMAR_STRINGIZE(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_NOLOAD) != nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const bool before = libcryptoLoaded();
    const QList<CertificateInfo> certificates = CertificateInfo::fromFile(QString::fromLocal8Bit(argv[1]));
    std::printf("before %d\nafter %d\n", before ? 1 : 0, libcryptoLoaded() ? 1 : 0);
    for (const CertificateInfo& certificate : certificates)
        std::printf("cn %s\n", qPrintable(certificate.commonName));
    return 0;
}
