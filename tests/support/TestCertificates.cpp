#include "TestCertificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

namespace {

struct FreeKey
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeBio
{
    void operator()(BIO* bio) const { BIO_free_all(bio); }
};

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

} // namespace

EVP_PKEY* testKey()
{
    static std::unique_ptr<EVP_PKEY, FreeKey> key(EVP_EC_gen("P-256"));
    return key.get();
}

Cert makeCertificate(const QByteArray& subjectCn, const QByteArray& issuerCn, const QDateTime& notBefore,
                     const QDateTime& notAfter)
{
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    ASN1_TIME_set(X509_getm_notBefore(cert.get()), static_cast<time_t>(notBefore.toSecsSinceEpoch()));
    ASN1_TIME_set(X509_getm_notAfter(cert.get()), static_cast<time_t>(notAfter.toSecsSinceEpoch()));
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Example"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(subjectCn.constData()), -1, -1, 0);
    X509_NAME* issuer = X509_get_issuer_name(cert.get());
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(issuerCn.constData()), -1, -1, 0);
    X509_set_pubkey(cert.get(), testKey());
    X509_sign(cert.get(), testKey(), EVP_sha256());
    return cert;
}

QByteArray pem(const Cert& cert)
{
    std::unique_ptr<BIO, FreeBio> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert.get());
    return bioBytes(bio.get());
}

QByteArray der(const Cert& cert)
{
    std::unique_ptr<BIO, FreeBio> bio(BIO_new(BIO_s_mem()));
    i2d_X509_bio(bio.get(), cert.get());
    return bioBytes(bio.get());
}

QByteArray pkcs12(const Cert& cert, int certificateNid, const char* password, const Cert* ca)
{
    STACK_OF(X509)* chain = sk_X509_new_null();
    if (ca)
        sk_X509_push(chain, ca->get());
    PKCS12* p12 = PKCS12_create(password, "me", testKey(), cert.get(), chain, 0, certificateNid, 0, 0, 0);
    sk_X509_free(chain);
    std::unique_ptr<BIO, FreeBio> bio(BIO_new(BIO_s_mem()));
    i2d_PKCS12_bio(bio.get(), p12);
    PKCS12_free(p12);
    return bioBytes(bio.get());
}
