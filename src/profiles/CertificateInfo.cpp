#include "CertificateInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;

void freeAuthSafes(STACK_OF(PKCS7) * stack)
{
    sk_PKCS7_pop_free(stack, PKCS7_free);
}
void freeBags(STACK_OF(PKCS12_SAFEBAG) * stack)
{
    sk_PKCS12_SAFEBAG_pop_free(stack, PKCS12_SAFEBAG_free);
}
using AuthSafesPtr = std::unique_ptr<STACK_OF(PKCS7), Deleter<STACK_OF(PKCS7), freeAuthSafes>>;
using BagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), Deleter<STACK_OF(PKCS12_SAFEBAG), freeBags>>;

QString nameText(const X509_NAME* name)
{
    // Readable separators, no spaces around "=", and UTF-8 kept as it is instead of \XX escapes.
    const unsigned long flags =
        ((XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ) & ~static_cast<unsigned long>(ASN1_STRFLGS_ESC_MSB)) |
        ASN1_STRFLGS_UTF8_CONVERT;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, flags) < 0)
        return QString();
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, static_cast<int>(size));
}

QDateTime timeOf(const ASN1_TIME* time)
{
    struct tm tm = {};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return QDateTime();
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                     QTime(tm.tm_hour, tm.tm_min, tm.tm_sec), Qt::UTC);
}

QString commonNameOf(const X509_NAME* name)
{
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    const X509_NAME_ENTRY* entry = at < 0 ? nullptr : X509_NAME_get_entry(name, at);
    unsigned char* utf8 = nullptr;
    const int length = entry ? ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry)) : -1;
    const QString result =
        length < 0 ? QString() : QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return result;
}

CertificateInfo infoOf(const X509* cert)
{
    CertificateInfo info;
    info.subject = nameText(X509_get_subject_name(cert));
    info.issuer = nameText(X509_get_issuer_name(cert));
    info.commonName = commonNameOf(X509_get_subject_name(cert));
    info.notBefore = timeOf(X509_get0_notBefore(cert));
    info.notAfter = timeOf(X509_get0_notAfter(cert));
    return info;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    // Certificates are small; a cap keeps a wrongly chosen large file from being read whole.
    constexpr qint64 kMaxSize = 4 * 1024 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSize)
        return QByteArray();
    return file.readAll();
}

} // namespace

qint64 CertificateInfo::daysUntilExpiry(const QDateTime& now) const
{
    const qint64 seconds = now.secsTo(notAfter);
    constexpr qint64 kDay = 24 * 60 * 60;
    return seconds >= 0 ? seconds / kDay : -((-seconds + kDay - 1) / kDay);
}

QList<CertificateInfo> CertificateInfo::fromData(const QByteArray& data)
{
    QList<CertificateInfo> result;
    if (data.isEmpty())
        return result;
    BioPtr bio(BIO_new_mem_buf(data.constData(), static_cast<int>(data.size())));
    if (!bio)
        return result;
    if (data.contains("-----BEGIN")) {
        while (X509Ptr cert{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
            result.append(infoOf(cert.get()));
    } else if (X509Ptr cert{d2i_X509_bio(bio.get(), nullptr)}) {
        result.append(infoOf(cert.get()));
    }
    return result;
}

QList<CertificateInfo> CertificateInfo::fromFile(const QString& path)
{
    return fromData(readAll(path));
}

QList<CertificateInfo> CertificateInfo::fromPkcs12File(const QString& path, bool* isPkcs12)
{
    QList<CertificateInfo> result;
    if (isPkcs12)
        *isPkcs12 = false;
    const QByteArray data = readAll(path);
    if (data.isEmpty())
        return result;
    BioPtr bio(BIO_new_mem_buf(data.constData(), static_cast<int>(data.size())));
    Pkcs12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
    if (!p12)
        return result;
    AuthSafesPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes)
        return result;
    if (isPkcs12)
        *isPkcs12 = true;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        // Encrypted safes need the password: they are skipped, not guessed at.
        if (!PKCS7_type_is_data(safe))
            continue;
        BagsPtr bags(PKCS12_unpack_p7data(safe));
        if (!bags)
            continue;
        for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
            if (PKCS12_SAFEBAG_get_nid(bag) != NID_certBag ||
                PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate)
                continue;
            if (X509Ptr cert{PKCS12_SAFEBAG_get1_cert(bag)})
                result.append(infoOf(cert.get()));
        }
    }
    return result;
}

QList<CertificateInfo> CertificateInfo::fromPkcs12FileWithPassword(const QString& path,
                                                                   const QString& password)
{
    QList<CertificateInfo> result;
    const QByteArray data = readAll(path);
    BioPtr bio(data.isEmpty() ? nullptr : BIO_new_mem_buf(data.constData(), static_cast<int>(data.size())));
    Pkcs12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
    if (!p12)
        return result;
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (PKCS12_parse(p12.get(), password.toUtf8().constData(), &key, &cert, &chain) != 1)
        return result;
    EVP_PKEY_free(key);
    if (cert)
        result.append(infoOf(cert));
    X509_free(cert);
    for (int i = 0; i < sk_X509_num(chain); ++i)
        result.append(infoOf(sk_X509_value(chain, i)));
    sk_X509_pop_free(chain, X509_free);
    return result;
}

ExpiryState expiryState(const QDateTime& notAfter, const QDateTime& now)
{
    // notAfter is the last valid second, not the first invalid one.
    if (now > notAfter)
        return ExpiryState::Expired;
    if (now.addDays(kExpiryWarningDays) >= notAfter)
        return ExpiryState::ExpiresSoon;
    return ExpiryState::Fine;
}

QString expiryWarning(const CertificateInfo& certificate, const QString& fileName, const QDateTime& now)
{
    if (certificate.isNull())
        return QString();
    const QString date = QLocale().toString(certificate.notAfter.toLocalTime().date(), QLocale::ShortFormat);
    switch (expiryState(certificate.notAfter, now)) {
    case ExpiryState::Expired:
        return QCoreApplication::translate("CertificateInfo", "The certificate %1 expired on %2.")
            .arg(fileName, date);
    case ExpiryState::ExpiresSoon:
        return QCoreApplication::translate("CertificateInfo", "The certificate %1 expires on %2.")
            .arg(fileName, date);
    case ExpiryState::Fine:
        break;
    }
    return QString();
}
