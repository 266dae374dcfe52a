// libcrypto loaded the first time a certificate or PKCS#12 file is read, not with the program.
//
// Linked as usual, libcrypto is loaded and relocated before main(): 1.4 MB of the manager's
// memory and a noticeable part of its start-up, for certificate details and imports that most
// runs never ask for. The build links these functions instead: each looks its namesake up in
// libcrypto on its first call. Each is declared by OpenSSL's own headers, so a definition that
// does not match OpenSSL's declaration does not compile, and a libcrypto function the code starts
// calling without a line here leaves the program unlinked, never wrong at run time.
//
// Without libcrypto (a broken installation) every function returns its zero value, which OpenSSL
// uses for failure: the certificates read as unreadable instead of the program not starting.

#ifdef QLUMAR_LAZY_CRYPTO

#include <QByteArray>
#include <QtGlobal>

#include <dlfcn.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace {

#define QLUMAR_STRINGIZE2(x) #x
#define QLUMAR_STRINGIZE(x) QLUMAR_STRINGIZE2(x)

void* libcrypto()
{
    // The ABI the headers describe: libcrypto.so.3 for OpenSSL 3.
    static void* const handle = [] {
        void* opened = dlopen("libcrypto.so." QLUMAR_STRINGIZE(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_LOCAL);
        if (!opened)
            qWarning("cannot load libcrypto: %s", dlerror());
        return opened;
    }();
    return handle;
}

template <typename R, typename... A> R unavailable(A...)
{
    return R();
}

// The function of that name in libcrypto itself, never this file's namesake.
template <typename R, typename... A> auto resolve(const char* name, R (*)(A...)) -> R (*)(A...)
{
    void* handle = libcrypto();
    void* found = handle ? dlsym(handle, name) : nullptr;
    if (!found) {
        if (handle)
            qWarning("libcrypto has no %s", name);
        return &unavailable<R, A...>;
    }
    return reinterpret_cast<R (*)(A...)>(found); // NOLINT: dlsym's result has no other way
}

} // namespace

#define QLUMAR_LAZY(result, name, parameters, arguments)                                                     \
    extern "C" result name parameters                                                                        \
    {                                                                                                        \
        static const auto real = resolve(#name, &(name));                                                    \
        return real arguments;                                                                               \
    }

QLUMAR_LAZY(int, ASN1_STRING_to_UTF8, (unsigned char** out, const ASN1_STRING* in), (out, in))
QLUMAR_LAZY(int, ASN1_TIME_to_tm, (const ASN1_TIME* s, struct tm* tm), (s, tm))
QLUMAR_LAZY(long, BIO_ctrl, (BIO * bp, int cmd, long larg, void* parg), (bp, cmd, larg, parg))
QLUMAR_LAZY(void, BIO_free_all, (BIO * a), (a))
QLUMAR_LAZY(BIO*, BIO_new, (const BIO_METHOD* type), (type))
QLUMAR_LAZY(BIO*, BIO_new_mem_buf, (const void* buf, int len), (buf, len))
QLUMAR_LAZY(const BIO_METHOD*, BIO_s_mem, (void), ())
QLUMAR_LAZY(void, CRYPTO_free, (void* ptr, const char* file, int line), (ptr, file, line))
QLUMAR_LAZY(void, ERR_clear_error, (void), ())
QLUMAR_LAZY(void, ERR_error_string_n, (unsigned long e, char* buf, size_t len), (e, buf, len))
QLUMAR_LAZY(unsigned long, ERR_get_error, (void), ())
QLUMAR_LAZY(void, EVP_PKEY_free, (EVP_PKEY * pkey), (pkey))
QLUMAR_LAZY(int, OBJ_obj2nid, (const ASN1_OBJECT* o), (o))
QLUMAR_LAZY(OPENSSL_STACK*, OPENSSL_sk_new_null, (void), ())
QLUMAR_LAZY(int, OPENSSL_sk_num, (const OPENSSL_STACK* st), (st))
QLUMAR_LAZY(void, OPENSSL_sk_pop_free, (OPENSSL_STACK * st, void (*func)(void*)), (st, func))
QLUMAR_LAZY(int, OPENSSL_sk_push, (OPENSSL_STACK * st, const void* data), (st, data))
QLUMAR_LAZY(void*, OPENSSL_sk_shift, (OPENSSL_STACK * st), (st))
QLUMAR_LAZY(void*, OPENSSL_sk_value, (const OPENSSL_STACK* st, int i), (st, i))
QLUMAR_LAZY(EVP_PKEY*, PEM_read_bio_PrivateKey, (BIO * out, EVP_PKEY** x, pem_password_cb* cb, void* u),
            (out, x, cb, u))
QLUMAR_LAZY(X509*, PEM_read_bio_X509, (BIO * out, X509** x, pem_password_cb* cb, void* u), (out, x, cb, u))
QLUMAR_LAZY(void, PKCS12_SAFEBAG_free, (PKCS12_SAFEBAG * a), (a))
QLUMAR_LAZY(X509*, PKCS12_SAFEBAG_get1_cert, (const PKCS12_SAFEBAG* bag), (bag))
QLUMAR_LAZY(int, PKCS12_SAFEBAG_get_bag_nid, (const PKCS12_SAFEBAG* bag), (bag))
QLUMAR_LAZY(int, PKCS12_SAFEBAG_get_nid, (const PKCS12_SAFEBAG* bag), (bag))
QLUMAR_LAZY(PKCS12*, PKCS12_create,
            (const char* pass, const char* name, EVP_PKEY* pkey, X509* cert, STACK_OF(X509) * ca, int nidKey,
             int nidCert, int iter, int macIter, int keyType),
            (pass, name, pkey, cert, ca, nidKey, nidCert, iter, macIter, keyType))
QLUMAR_LAZY(void, PKCS12_free, (PKCS12 * a), (a))
QLUMAR_LAZY(int, PKCS12_parse,
            (PKCS12 * p12, const char* pass, EVP_PKEY** pkey, X509** cert, STACK_OF(X509) * *ca),
            (p12, pass, pkey, cert, ca))
QLUMAR_LAZY(STACK_OF(PKCS7) *, PKCS12_unpack_authsafes, (const PKCS12* p12), (p12))
QLUMAR_LAZY(STACK_OF(PKCS12_SAFEBAG) *, PKCS12_unpack_p7data, (PKCS7 * p7), (p7))
QLUMAR_LAZY(void, PKCS7_free, (PKCS7 * a), (a))
QLUMAR_LAZY(ASN1_STRING*, X509_NAME_ENTRY_get_data, (const X509_NAME_ENTRY* ne), (ne))
QLUMAR_LAZY(X509_NAME_ENTRY*, X509_NAME_get_entry, (const X509_NAME* name, int loc), (name, loc))
QLUMAR_LAZY(int, X509_NAME_get_index_by_NID, (const X509_NAME* name, int nid, int lastpos),
            (name, nid, lastpos))
QLUMAR_LAZY(int, X509_NAME_print_ex, (BIO * out, const X509_NAME* nm, int indent, unsigned long flags),
            (out, nm, indent, flags))
QLUMAR_LAZY(int, X509_check_private_key, (const X509* cert, const EVP_PKEY* pkey), (cert, pkey))
QLUMAR_LAZY(void, X509_free, (X509 * a), (a))
QLUMAR_LAZY(const ASN1_TIME*, X509_get0_notAfter, (const X509* x), (x))
QLUMAR_LAZY(const ASN1_TIME*, X509_get0_notBefore, (const X509* x), (x))
QLUMAR_LAZY(X509_NAME*, X509_get_issuer_name, (const X509* a), (a))
QLUMAR_LAZY(X509_NAME*, X509_get_subject_name, (const X509* a), (a))
QLUMAR_LAZY(PKCS12*, d2i_PKCS12_bio, (BIO * bp, PKCS12** p12), (bp, p12))
QLUMAR_LAZY(X509*, d2i_X509_bio, (BIO * bp, X509** x509), (bp, x509))
QLUMAR_LAZY(int, i2d_PKCS12_bio, (BIO * bp, const PKCS12* p12), (bp, p12))

#endif
