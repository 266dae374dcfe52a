#include "credentials.h"
#include "env.h"

#include <p11-kit/pkcs11.h>

#include <cstdio>
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
        if (entry.rv == rv) {
            return entry.name;
        }
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
        handle_ = LoadLibraryW(wide.c_str());
        if (!handle_) {
            error_ = "LoadLibrary error " + std::to_string(GetLastError());
        }
#else
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            error_ = ::dlerror();
        }
#endif
    }
    ~Module()
    {
        if (handle_) {
#ifdef _WIN32
            FreeLibrary(handle_);
#else
            ::dlclose(handle_);
#endif
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool loaded() const
    {
        return handle_ != nullptr;
    }
    const std::string& error() const
    {
        return error_;
    }

    CK_C_GetFunctionList getFunctionList() const
    {
#ifdef _WIN32
        return reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(handle_, "C_GetFunctionList")));
#else
        return reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle_, "C_GetFunctionList"));
#endif
    }

private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    std::string error_;
};

// Undoes C_Initialize, C_OpenSession and C_Login in reverse order on every way out.
class Cleanup
{
public:
    explicit Cleanup(CK_FUNCTION_LIST* p11) : p11_(p11) {}
    ~Cleanup()
    {
        if (loggedIn_) {
            p11_->C_Logout(session_);
        }
        if (session_ != CK_INVALID_HANDLE) {
            p11_->C_CloseSession(session_);
        }
        if (initialized_) {
            p11_->C_Finalize(nullptr);
        }
    }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;

    bool initialized_ = false;
    CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
    bool loggedIn_ = false;

private:
    CK_FUNCTION_LIST* p11_;
};

bool findSlot(CK_FUNCTION_LIST* p11, const std::optional<std::string>& wanted, CK_SLOT_ID* slot, Logger& log)
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
        if (p11->C_GetTokenInfo(candidate, &info) != CKR_OK) {
            continue;
        }
        const std::string label = tokenLabel(info);
        if (!wanted || label == *wanted) {
            log.line("PKCS#11: using token '" + label + "' in slot " + std::to_string(candidate));
            *slot = candidate;
            return true;
        }
    }
    if (wanted) {
        log.fatal("Error: no PKCS#11 token labelled '" + *wanted + "' is present");
    } else {
        log.fatal("Error: no PKCS#11 token is present");
    }
    return false;
}

} // namespace

KeyCheck checkTokenKey(const std::string& keyLabel, const std::string& pin, Logger& log)
{
    const auto modulePath = envValue("QLUMAR_PKCS11_MODULE");
    if (!modulePath) {
        log.fatal("Error: no PKCS#11 token module is configured: set QLUMAR_PKCS11_MODULE to the path of "
                  "the token's PKCS#11 library");
        return KeyCheck::Failed;
    }
    Module module(*modulePath);
    if (!module.loaded()) {
        log.fatal("Error: cannot load PKCS#11 module '" + *modulePath + "': " + module.error());
        return KeyCheck::Failed;
    }
    const CK_C_GetFunctionList getFunctionList = module.getFunctionList();
    CK_FUNCTION_LIST* p11 = nullptr;
    if (!getFunctionList || getFunctionList(&p11) != CKR_OK || !p11) {
        log.fatal("Error: '" + *modulePath + "' is not a PKCS#11 module (no usable C_GetFunctionList)");
        return KeyCheck::Failed;
    }
    log.line("PKCS#11: loaded module " + *modulePath);

    Cleanup cleanup(p11);
    CK_RV rv = p11->C_Initialize(nullptr);
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_Initialize", rv));
        return KeyCheck::Failed;
    }
    cleanup.initialized_ = true;

    CK_SLOT_ID slot = 0;
    if (!findSlot(p11, envValue("QLUMAR_PKCS11_TOKEN_LABEL"), &slot, log)) {
        return KeyCheck::Failed;
    }
    rv = p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &cleanup.session_);
    if (rv != CKR_OK) {
        cleanup.session_ = CK_INVALID_HANDLE;
        log.fatal("PKCS#11: " + describe("C_OpenSession", rv));
        return KeyCheck::Failed;
    }

    // Some modules reject a null PIN pointer even with length zero, so an empty PIN still points at
    // a (terminating) byte.
    std::vector<CK_UTF8CHAR> pinBytes(pin.begin(), pin.end());
    pinBytes.push_back(0);
    rv = p11->C_Login(cleanup.session_, CKU_USER, pinBytes.data(), static_cast<CK_ULONG>(pin.size()));
    switch (rv) {
    case CKR_OK:
        cleanup.loggedIn_ = true;
        break;
    case CKR_USER_ALREADY_LOGGED_IN:
        break;
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
    case CKR_PIN_EXPIRED:
    case CKR_PIN_LOCKED:
        log.line("PKCS#11: " + describe("C_Login", rv));
        log.fatal(kWrongSecretMessage);
        return KeyCheck::WrongSecret;
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
    rv = p11->C_FindObjectsInit(cleanup.session_, query, 2);
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_FindObjectsInit", rv));
        return KeyCheck::Failed;
    }
    CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
    CK_ULONG foundCount = 0;
    rv = p11->C_FindObjects(cleanup.session_, &found, 1, &foundCount);
    p11->C_FindObjectsFinal(cleanup.session_);
    if (rv != CKR_OK) {
        log.fatal("PKCS#11: " + describe("C_FindObjects", rv));
        return KeyCheck::Failed;
    }
    if (foundCount == 0) {
        log.fatal("Error: Cannot find private key '" + keyLabel + "' in the token");
        return KeyCheck::Failed;
    }
    log.line("PKCS#11: found private key '" + keyLabel + "'");
    return KeyCheck::Ok;
}
