// A stand-in PKCS#11 module with one token and no objects, for the token states SoftHSM2 cannot be
// put in. C_Login answers $FAKE_PKCS11_LOGIN_RV (a number, "0xa4" for CKR_PIN_LOCKED; CKR_OK when
// unset). The token's flags are read from the file $FAKE_PKCS11_FLAGS_FILE at each C_GetTokenInfo,
// so that another process can change them; unset or unreadable means an ordinary token.

#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

CK_ULONG envNumber(const char* name, CK_ULONG fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 0) : fallback;
}

CK_RV initialize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV finalize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV getSlotList(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count)
{
    if (slots && *count >= 1) {
        slots[0] = 7;
    }
    *count = 1;
    return CKR_OK;
}

CK_RV getTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO_PTR info)
{
    std::memset(info, 0, sizeof *info);
    std::memset(info->label, ' ', sizeof info->label);
    std::memcpy(info->label, "Stand-in token", 14);
    info->flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED;
    if (const char* path = std::getenv("FAKE_PKCS11_FLAGS_FILE")) {
        std::string text;
        if (std::getline(std::ifstream(path), text) && !text.empty()) {
            info->flags |= std::strtoul(text.c_str(), nullptr, 0);
        }
    }
    return CKR_OK;
}

CK_RV openSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session)
{
    *session = 1;
    return CKR_OK;
}

CK_RV closeSession(CK_SESSION_HANDLE)
{
    return CKR_OK;
}

CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG)
{
    return envNumber("FAKE_PKCS11_LOGIN_RV", CKR_OK);
}

CK_RV logout(CK_SESSION_HANDLE)
{
    return CKR_OK;
}

CK_RV findObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG)
{
    return CKR_OK;
}

CK_RV findObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG, CK_ULONG_PTR count)
{
    *count = 0;
    return CKR_OK;
}

CK_RV findObjectsFinal(CK_SESSION_HANDLE)
{
    return CKR_OK;
}

CK_FUNCTION_LIST makeList()
{
    CK_FUNCTION_LIST list;
    std::memset(&list, 0, sizeof list);
    list.version = {2, 40};
    list.C_Initialize = initialize;
    list.C_Finalize = finalize;
    list.C_GetSlotList = getSlotList;
    list.C_GetTokenInfo = getTokenInfo;
    list.C_OpenSession = openSession;
    list.C_CloseSession = closeSession;
    list.C_Login = login;
    list.C_Logout = logout;
    list.C_FindObjectsInit = findObjectsInit;
    list.C_FindObjects = findObjects;
    list.C_FindObjectsFinal = findObjectsFinal;
    return list;
}

CK_FUNCTION_LIST functions = makeList();

} // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    *list = &functions;
    return CKR_OK;
}
