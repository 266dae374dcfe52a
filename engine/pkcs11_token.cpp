#include "credentials.h"
#include "env.h"
#include "token_signer.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

struct RvName
{
    CK_RV rv;
    const char* name;
};

constexpr RvName kRvNames[] = {
    {CKR_OK, "CKR_OK"},
    {CKR_GENERAL_ERROR, "CKR_GENERAL_ERROR"},
    {CKR_ARGUMENTS_BAD, "CKR_ARGUMENTS_BAD"},
    {CKR_DEVICE_ERROR, "CKR_DEVICE_ERROR"},
    {CKR_DEVICE_REMOVED, "CKR_DEVICE_REMOVED"},
    {CKR_TOKEN_NOT_PRESENT, "CKR_TOKEN_NOT_PRESENT"},
    {CKR_TOKEN_NOT_RECOGNIZED, "CKR_TOKEN_NOT_RECOGNIZED"},
    {CKR_PIN_INCORRECT, "CKR_PIN_INCORRECT"},
    {CKR_PIN_INVALID, "CKR_PIN_INVALID"},
    {CKR_PIN_LEN_RANGE, "CKR_PIN_LEN_RANGE"},
    {CKR_PIN_EXPIRED, "CKR_PIN_EXPIRED"},
    {CKR_PIN_LOCKED, "CKR_PIN_LOCKED"},
    {CKR_USER_PIN_NOT_INITIALIZED, "CKR_USER_PIN_NOT_INITIALIZED"},
    {CKR_CRYPTOKI_NOT_INITIALIZED, "CKR_CRYPTOKI_NOT_INITIALIZED"},
    {CKR_CRYPTOKI_ALREADY_INITIALIZED, "CKR_CRYPTOKI_ALREADY_INITIALIZED"},
    {CKR_SESSION_COUNT, "CKR_SESSION_COUNT"},
};

const char* rvName(CK_RV rv)
{
    for (const RvName& entry : kRvNames) {
        if (entry.rv == rv)
            return entry.name;
    }
    return "unknown error";
}

std::string describe(const char* call, CK_RV rv)
{
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(rv));
    return std::string(call) + " failed: " + rvName(rv) + " (" + code + ")";
}

// Token labels are fixed-width and blank-padded.
std::string tokenLabel(const CK_TOKEN_INFO& info)
{
    std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
    const auto end = label.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : label.substr(0, end + 1);
}

class Module
{
public:
    explicit Module(const std::string& path)
    {
#ifdef _WIN32
        const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
        std::wstring wide(size > 0 ? size : 1, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
        m_handle = LoadLibraryW(wide.c_str());
        if (!m_handle)
            m_error = "LoadLibrary error " + std::to_string(GetLastError());
#else
        m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            m_error = ::dlerror();
#endif
    }
    ~Module()
    {
        if (m_handle) {
#ifdef _WIN32
            FreeLibrary(m_handle);
#else
            ::dlclose(m_handle);
#endif
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool loaded() const
    {
        return m_handle != nullptr;
    }
    const std::string& error() const
    {
        return m_error;
    }

    CK_C_GetFunctionList getFunctionList() const
    {
#ifdef _WIN32
        return reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(m_handle, "C_GetFunctionList")));
#else
        return reinterpret_cast<CK_C_GetFunctionList>(::dlsym(m_handle, "C_GetFunctionList"));
#endif
    }

private:
#ifdef _WIN32
    HMODULE m_handle = nullptr;
#else
    void* m_handle = nullptr;
#endif
    std::string m_error;
};

// Undoes C_Initialize, C_OpenSession and C_Login in reverse order on every way out.
class Cleanup
{
public:
    explicit Cleanup(CK_FUNCTION_LIST* p11) : m_p11(p11) {}
    ~Cleanup()
    {
        if (loggedIn)
            m_p11->C_Logout(session);
        if (session != CK_INVALID_HANDLE)
            m_p11->C_CloseSession(session);
        if (initialized)
            m_p11->C_Finalize(nullptr);
    }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;

    bool initialized = false;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    bool loggedIn = false;

private:
    CK_FUNCTION_LIST* m_p11;
};

std::string loginProblemText(CK_RV rv)
{
    if (rv == CKR_PIN_LOCKED) {
        return "Error: the token's PIN is locked (CKR_PIN_LOCKED): unblock it with the token's security "
               "officer PIN, then connect again";
    }
    return "Error: the token's PIN has expired (CKR_PIN_EXPIRED): set a new PIN with the token's own tools, "
           "then connect again";
}

// The same from the token's flags, which tell without a login attempt.
std::string flagsProblemText(CK_FLAGS flags)
{
    if (flags & CKF_USER_PIN_LOCKED)
        return loginProblemText(CKR_PIN_LOCKED);
    if (flags & CKF_USER_PIN_TO_BE_CHANGED)
        return loginProblemText(CKR_PIN_EXPIRED);
    return {};
}

bool findSlot(CK_FUNCTION_LIST* p11, const std::optional<std::string>& wanted, CK_SLOT_ID* slot,
              CK_FLAGS* flags, Logger& log)
{
    CK_ULONG count = 0;
    CK_RV rv = p11->C_GetSlotList(CK_TRUE, nullptr, &count);
    std::vector<CK_SLOT_ID> slots(count);
    if (rv == CKR_OK && count > 0) {
        rv = p11->C_GetSlotList(CK_TRUE, slots.data(), &count);
        slots.resize(count);
    }
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_GetSlotList", rv));
        return false;
    }
    for (CK_SLOT_ID candidate : slots) {
        CK_TOKEN_INFO info{};
        if (p11->C_GetTokenInfo(candidate, &info) != CKR_OK)
            continue;
        const std::string label = tokenLabel(info);
        if (!wanted || label == *wanted) {
            log.line("PKCS#11: using token '" + label + "' in slot " + std::to_string(candidate));
            *slot = candidate;
            *flags = info.flags;
            return true;
        }
    }
    if (wanted)
        log.fatal("Error: no PKCS#11 token labelled '" + *wanted + "' is present");
    else
        log.fatal("Error: no PKCS#11 token is present");
    return false;
}

// The module, its function list and a read-only session with the chosen token, closed in reverse order.
class TokenSession
{
public:
    // Logs the reason (as a fatal line) when the module or the token cannot be used.
    bool open(Logger& log)
    {
        const auto modulePath = envValue("QLUMAR_PKCS11_MODULE");
        if (!modulePath) {
            log.fatal("Error: no PKCS#11 token module is configured: set QLUMAR_PKCS11_MODULE to the path of "
                      "the token's PKCS#11 library");
            return false;
        }
        m_module = std::make_unique<Module>(*modulePath);
        if (!m_module->loaded()) {
            log.fatal("Error: cannot load PKCS#11 module '" + *modulePath + "': " + m_module->error());
            return false;
        }
        const CK_C_GetFunctionList getFunctionList = m_module->getFunctionList();
        if (!getFunctionList || getFunctionList(&m_p11) != CKR_OK || !m_p11) {
            log.fatal("Error: '" + *modulePath + "' is not a PKCS#11 module (no usable C_GetFunctionList)");
            return false;
        }
        log.line("PKCS#11: loaded module " + *modulePath);

        m_cleanup = std::make_unique<Cleanup>(m_p11);
        CK_RV rv = m_p11->C_Initialize(nullptr);
        if (rv != CKR_OK) {
            log.fatal("PKCS#11: " + describe("C_Initialize", rv));
            return false;
        }
        m_cleanup->initialized = true;

        CK_SLOT_ID slot = 0;
        if (!findSlot(m_p11, envValue("QLUMAR_PKCS11_TOKEN_LABEL"), &slot, &m_flags, log))
            return false;
        rv = m_p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &m_cleanup->session);
        if (rv != CKR_OK) {
            m_cleanup->session = CK_INVALID_HANDLE;
            log.fatal("PKCS#11: " + describe("C_OpenSession", rv));
            return false;
        }
        return true;
    }

    CK_FUNCTION_LIST* p11() const { return m_p11; }
    CK_SESSION_HANDLE session() const { return m_cleanup->session; }
    void setLoggedIn() { m_cleanup->loggedIn = true; }
    CK_FLAGS tokenFlags() const { return m_flags; }

private:
    // Declared first so that the module is unloaded last.
    std::unique_ptr<Module> m_module;
    CK_FUNCTION_LIST* m_p11 = nullptr;
    std::unique_ptr<Cleanup> m_cleanup;
    CK_FLAGS m_flags = 0;
};

// The handles of up to a few hundred objects matching the template.
bool findObjects(TokenSession& token, CK_ATTRIBUTE* query, CK_ULONG count,
                 std::vector<CK_OBJECT_HANDLE>* found, Logger& log)
{
    CK_FUNCTION_LIST* p11 = token.p11();
    CK_RV rv = p11->C_FindObjectsInit(token.session(), query, count);
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_FindObjectsInit", rv));
        return false;
    }
    CK_OBJECT_HANDLE handles[256];
    CK_ULONG got = 0;
    rv = p11->C_FindObjects(token.session(), handles, 256, &got);
    p11->C_FindObjectsFinal(token.session());
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_FindObjects", rv));
        return false;
    }
    found->assign(handles, handles + got);
    return true;
}

// An attribute's bytes; empty when the object has none or keeps it secret.
std::string attribute(TokenSession& token, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    CK_ATTRIBUTE query{type, nullptr, 0};
    if (token.p11()->C_GetAttributeValue(token.session(), object, &query, 1) != CKR_OK ||
        query.ulValueLen == CK_UNAVAILABLE_INFORMATION || query.ulValueLen == 0) {
        return {};
    }
    std::string value(query.ulValueLen, '\0');
    query.pValue = value.data();
    if (token.p11()->C_GetAttributeValue(token.session(), object, &query, 1) != CKR_OK) {
        return {};
    }
    value.resize(query.ulValueLen);
    return value;
}

} // namespace

bool findTokenCertificates(const std::string& keyLabel, std::vector<std::string>* ders, Logger& log)
{
    TokenSession token;
    if (!token.open(log))
        return false;
    const std::string problem = flagsProblemText(token.tokenFlags());
    if (!problem.empty()) {
        log.fatal(problem);
        return false;
    }
    // Whatever carries the label without a login (certificate, public key) gives the key pair's CKA_ID.
    std::string label = keyLabel;
    CK_ATTRIBUTE byLabel[] = {{CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size())}};
    std::vector<CK_OBJECT_HANDLE> labelled;
    if (!findObjects(token, byLabel, 1, &labelled, log))
        return false;
    for (CK_OBJECT_HANDLE object : labelled) {
        std::string id = attribute(token, object, CKA_ID);
        if (id.empty())
            continue;
        CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
        CK_ATTRIBUTE byId[] = {
            {CKA_CLASS, &certClass, sizeof certClass},
            {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())},
        };
        std::vector<CK_OBJECT_HANDLE> certs;
        if (!findObjects(token, byId, 2, &certs, log))
            return false;
        for (CK_OBJECT_HANDLE cert : certs) {
            const std::string der = attribute(token, cert, CKA_VALUE);
            if (!der.empty() && std::find(ders->begin(), ders->end(), der) == ders->end())
                ders->push_back(der);
        }
    }
    return true;
}

namespace {

// Logs in with the PIN and finds the private key labelled keyLabel. A locked or expired PIN is its own
// error, never the wrong-password text: the manager would take that for a typo and ask again.
KeyCheck loginAndFindKey(TokenSession& token, const std::string& keyLabel, const std::string& pin,
                         Logger& log, CK_OBJECT_HANDLE* key)
{
    CK_FUNCTION_LIST* p11 = token.p11();

    // Some modules reject a null PIN pointer even with length zero, so an empty PIN still points at
    // a (terminating) byte.
    std::vector<CK_UTF8CHAR> pinBytes(pin.begin(), pin.end());
    pinBytes.push_back(0);
    CK_RV rv = p11->C_Login(token.session(), CKU_USER, pinBytes.data(), static_cast<CK_ULONG>(pin.size()));
    switch (rv) {
    case CKR_OK:
        token.setLoggedIn();
        break;
    case CKR_USER_ALREADY_LOGGED_IN:
        break;
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
        log.line("PKCS#11: " + describe("C_Login", rv));
        log.fatal(kWrongSecretMessage);
        return KeyCheck::WrongSecret;
    case CKR_PIN_EXPIRED:
    case CKR_PIN_LOCKED:
        log.line("PKCS#11: " + describe("C_Login", rv));
        log.fatal(loginProblemText(rv));
        return KeyCheck::Failed;
    default:
        log.fatal("PKCS#11: " + describe("C_Login", rv));
        return KeyCheck::Failed;
    }

    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    std::string label = keyLabel;
    CK_ATTRIBUTE query[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size())},
    };
    std::vector<CK_OBJECT_HANDLE> found;
    if (!findObjects(token, query, 2, &found, log))
        return KeyCheck::Failed;
    if (found.empty()) {
        log.fatal("Error: Cannot find private key '" + keyLabel + "' in the token");
        return KeyCheck::Failed;
    }
    log.line("PKCS#11: found private key '" + keyLabel + "'");
    *key = found.front();
    return KeyCheck::Ok;
}

} // namespace

KeyCheck checkTokenKey(const std::string& keyLabel, const std::string& pin, Logger& log)
{
    TokenSession token;
    if (!token.open(log))
        return KeyCheck::Failed;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    return loginAndFindKey(token, keyLabel, pin, log, &key);
}

std::string tokenPinProblem()
{
    Logger quiet(nullptr);
    TokenSession token;
    if (!token.open(quiet)) {
        return {};
    }
    return flagsProblemText(token.tokenFlags());
}

struct TokenSigner::Impl
{
    TokenSession token;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    CK_KEY_TYPE keyType = CKK_RSA;
    std::size_t modulusBytes = 0;
};

TokenSigner::TokenSigner() : m_impl(std::make_unique<Impl>()) {}

TokenSigner::~TokenSigner() = default;

KeyCheck TokenSigner::open(const std::string& keyLabel, const std::string& pin, Logger& log)
{
    TokenSession& token = m_impl->token;
    if (!token.open(log))
        return KeyCheck::Failed;
    const KeyCheck found = loginAndFindKey(token, keyLabel, pin, log, &m_impl->key);
    if (found != KeyCheck::Ok)
        return found;
    const std::string type = attribute(token, m_impl->key, CKA_KEY_TYPE);
    if (type.size() == sizeof(CK_KEY_TYPE))
        std::memcpy(&m_impl->keyType, type.data(), sizeof(CK_KEY_TYPE));
    m_impl->modulusBytes = attribute(token, m_impl->key, CKA_MODULUS).size();
    return KeyCheck::Ok;
}

namespace {

std::string field(const std::string& algorithm, const std::string& name)
{
    const std::string key = "," + name + "=";
    const auto at = algorithm.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const auto start = at + key.size();
    return algorithm.substr(start, algorithm.find(',', start) - start);
}

bool hashMechanism(const std::string& name, CK_MECHANISM_TYPE* hash, CK_RSA_PKCS_MGF_TYPE* mgf,
                   std::size_t* size)
{
    struct Hash
    {
        const char* name;
        CK_MECHANISM_TYPE hash;
        CK_RSA_PKCS_MGF_TYPE mgf;
        std::size_t size;
    };
    static const Hash hashes[] = {{"SHA1", CKM_SHA_1, CKG_MGF1_SHA1, 20},
                                  {"SHA224", CKM_SHA224, CKG_MGF1_SHA224, 28},
                                  {"SHA256", CKM_SHA256, CKG_MGF1_SHA256, 32},
                                  {"SHA384", CKM_SHA384, CKG_MGF1_SHA384, 48},
                                  {"SHA512", CKM_SHA512, CKG_MGF1_SHA512, 64}};
    for (const Hash& entry : hashes) {
        if (name == entry.name) {
            *hash = entry.hash;
            *mgf = entry.mgf;
            *size = entry.size;
            return true;
        }
    }
    return false;
}

// PKCS#11 gives r || s; TLS wants the DER ECDSA-Sig-Value.
std::string ecdsaDer(const std::string& raw)
{
    const int half = static_cast<int>(raw.size() / 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(bytes, half, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + half, half, nullptr);
    std::string der;
    if (sig && r && s && ECDSA_SIG_set0(sig, r, s) == 1) {
        r = s = nullptr;
        unsigned char* out = nullptr;
        const int size = i2d_ECDSA_SIG(sig, &out);
        if (size > 0)
            der.assign(reinterpret_cast<char*>(out), static_cast<std::size_t>(size));
        OPENSSL_free(out);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return der;
}

} // namespace

bool TokenSigner::sign(const std::string& data, const std::string& algorithm, std::string* signature,
                       std::string* error)
{
    CK_MECHANISM mechanism{};
    CK_RSA_PKCS_PSS_PARAMS pss{};
    const std::string padding = algorithm.substr(0, algorithm.find(','));
    if (padding == "ECDSA") {
        mechanism.mechanism = CKM_ECDSA;
    } else if (padding == "RSA_PKCS1_PADDING") {
        // Without the "digest" flag OpenVPN sends the DigestInfo, ready for PKCS#1 v1.5 padding.
        mechanism.mechanism = CKM_RSA_PKCS;
    } else if (padding == "RSA_NO_PADDING") {
        mechanism.mechanism = CKM_RSA_X_509;
    } else if (padding == "RSA_PKCS1_PSS_PADDING") {
        std::size_t hashSize = 0;
        if (!hashMechanism(field(algorithm, "hashalg"), &pss.hashAlg, &pss.mgf, &hashSize)) {
            *error = "unsupported hash in '" + algorithm + "'";
            return false;
        }
        const std::string salt = field(algorithm, "saltlen");
        if (salt == "digest" || salt.empty()) {
            pss.sLen = hashSize;
        } else if (salt == "max") {
            pss.sLen = m_impl->modulusBytes > hashSize + 2 ? m_impl->modulusBytes - hashSize - 2 : 0;
        } else {
            pss.sLen = std::strtoul(salt.c_str(), nullptr, 10);
        }
        mechanism.mechanism = CKM_RSA_PKCS_PSS;
        mechanism.pParameter = &pss;
        mechanism.ulParameterLen = sizeof pss;
    } else {
        *error = "unsupported signature '" + algorithm + "'";
        return false;
    }
    if ((mechanism.mechanism == CKM_ECDSA) != (m_impl->keyType == CKK_EC)) {
        *error = "the token key cannot make a '" + padding + "' signature";
        return false;
    }

    CK_FUNCTION_LIST* p11 = m_impl->token.p11();
    const CK_SESSION_HANDLE session = m_impl->token.session();
    CK_RV rv = p11->C_SignInit(session, &mechanism, m_impl->key);
    std::string in = data;
    CK_ULONG size = 0;
    if (rv == CKR_OK) {
        rv = p11->C_Sign(session, reinterpret_cast<CK_BYTE*>(in.data()), static_cast<CK_ULONG>(in.size()),
                         nullptr, &size);
    }
    std::string out(size, '\0');
    if (rv == CKR_OK) {
        rv = p11->C_Sign(session, reinterpret_cast<CK_BYTE*>(in.data()), static_cast<CK_ULONG>(in.size()),
                         reinterpret_cast<CK_BYTE*>(out.data()), &size);
    }
    if (rv != CKR_OK) {
        *error = describe("C_Sign", rv);
        return false;
    }
    out.resize(size);
    *signature = mechanism.mechanism == CKM_ECDSA ? ecdsaDer(out) : out;
    return !signature->empty();
}
