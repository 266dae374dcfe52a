#include "credentials.h"
#include "paths.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
#include <openssl/provider.h>
#endif

#include <memory>

namespace {

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void freeCertStack(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
using CertStackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeCertStack>>;

#if OPENSSL_VERSION_NUMBER >= 0x30000000L
struct ProviderUnloader
{
    void operator()(OSSL_PROVIDER* provider) const { OSSL_PROVIDER_unload(provider); }
};
#endif

std::string opensslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty())
            text += "; ";
        text += buffer;
    }
    return text.empty() ? "unknown OpenSSL error" : text;
}

// OpenSSL accepts an empty password as either "no password" or "the empty string", and files in the
// wild use both.
bool macMatches(PKCS12* p12, const std::string& password)
{
    if (!PKCS12_mac_present(p12))
        return true;
    if (password.empty())
        return PKCS12_verify_mac(p12, nullptr, 0) == 1 || PKCS12_verify_mac(p12, "", 0) == 1;
    return PKCS12_verify_mac(p12, password.c_str(), static_cast<int>(password.size())) == 1;
}

} // namespace

KeyCheck checkPkcs12(const std::string& path, const std::string& password, Logger& log)
{
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
    // Files exported by older tools use RC2/3DES, which OpenSSL 3 only has in its legacy provider;
    // where that provider is missing, only such files fail, with OpenSSL's own explanation.
    const std::unique_ptr<OSSL_PROVIDER, ProviderUnloader> legacy(
        OSSL_PROVIDER_try_load(nullptr, "legacy", 1));
    ERR_clear_error();
#endif

    std::string data;
    if (!readFileText(path, &data)) {
        log.fatal("Error: cannot open PKCS#12 file '" + path + "'");
        return KeyCheck::Failed;
    }
    BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    Pkcs12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
    if (!p12) {
        log.fatal("Error: '" + path + "' is not a PKCS#12 file: " + opensslErrors());
        return KeyCheck::Failed;
    }

    if (!macMatches(p12.get(), password)) {
        ERR_clear_error();
        log.fatal(kWrongSecretMessage);
        return KeyCheck::WrongSecret;
    }

    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawCa = nullptr;
    const bool parsed = PKCS12_parse(p12.get(), password.c_str(), &rawKey, &rawCert, &rawCa) == 1;
    KeyPtr key(rawKey);
    CertPtr cert(rawCert);
    CertStackPtr ca(rawCa);
    if (!parsed) {
        // Without a MAC there is nothing to check the password against first; a failed decryption
        // is then the only sign of a wrong one.
        if (!PKCS12_mac_present(p12.get())) {
            ERR_clear_error();
            log.fatal(kWrongSecretMessage);
            return KeyCheck::WrongSecret;
        }
        log.fatal("Error: cannot decode PKCS#12 file '" + path + "': " + opensslErrors());
        return KeyCheck::Failed;
    }
    if (!key) {
        log.fatal("Error: PKCS#12 file '" + path + "' contains no private key");
        return KeyCheck::Failed;
    }
    if (!cert) {
        log.fatal("Error: PKCS#12 file '" + path + "' contains no certificate");
        return KeyCheck::Failed;
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        ERR_clear_error();
        log.fatal("Error: the certificate in PKCS#12 file '" + path + "' does not match its private key");
        return KeyCheck::Failed;
    }

    char subject[256];
    X509_NAME_oneline(X509_get_subject_name(cert.get()), subject, sizeof subject);
    // A server refuses an expired certificate only after the handshake, with a generic TLS error.
    if (X509_cmp_current_time(X509_get0_notAfter(cert.get())) < 0) {
        log.fatal(std::string("Error: the certificate in PKCS#12 file '") + path +
                  "' has expired, subject=" + subject);
        return KeyCheck::Failed;
    }
    log.line(std::string("Loaded certificate and private key from PKCS#12 file, subject=") + subject);
    return KeyCheck::Ok;
}

std::string certificateDer(const std::string& path)
{
    BIO* bio = BIO_new_file(path.c_str(), "rb");
    if (!bio) {
        return {};
    }
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (!cert) {
        (void)BIO_reset(bio);
        cert = d2i_X509_bio(bio, nullptr);
    }
    BIO_free(bio);
    std::string der;
    if (cert) {
        unsigned char* out = nullptr;
        const int size = i2d_X509(cert, &out);
        if (size > 0)
            der.assign(reinterpret_cast<char*>(out), static_cast<std::size_t>(size));
        OPENSSL_free(out);
        X509_free(cert);
    }
    return der;
}
