// The class-wide last-error record and the notification channel.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/TransferErrors.h"
#include "base/UpdaterBase.h"
#include "platform/Error.h"

plat::CriticalSection& CUpdaterBase::ErrorLock() {
    // Built on first use so that errors raised while globals are being
    // constructed find it ready.
    static plat::CriticalSection lock;
    return lock;
}

void CUpdaterBase::Notify(int32_t code) {
    UPDATE_CALLBACK callback = s_pCallBack;
    if (callback != nullptr) {
        callback(code, &s_CallbackInfo);
    }
}

void CUpdaterBase::SetLastErrorMsg(int kind, int errorCode, const char* message,
                                   int customErrorCode) {
    plat::CriticalSectionLock hold(ErrorLock());
    s_nErrorCode = errorCode;
    s_nCustomErrorCode = customErrorCode;
    s_CallbackInfo.nErrorCode = errorCode;
    s_CallbackInfo.nCustomErrorCode = customErrorCode;

    if (errorCode == static_cast<int>(TRANSFER_ERROR_EXTENDED) && s_pResponseTextHook != nullptr) {
        uint32_t extended = 0;
        char response[sizeof(s_szErrorMsg)] = "";
        if (s_pResponseTextHook(&extended, response, sizeof(response))) {
            response[sizeof(response) - 1] = '\0';
            std::memcpy(s_szErrorMsg, response, sizeof(s_szErrorMsg));
            UpdateLog("ERROR_INTERNET_EXTENDED_ERROR %d ErrorMsg %s\n", static_cast<int>(extended),
                      s_szErrorMsg);
        }
    }

    switch (kind) {
        case ERROR_KIND_CUSTOM:
            s_nErrorKind = ERROR_KIND_CUSTOM;
            if (message != nullptr) {
                // Cut rather than overrun: a message built from a long path
                // must not spill into the neighbouring state.
                std::snprintf(s_szErrorMsg, sizeof(s_szErrorMsg), "%s", message);
                std::snprintf(s_CallbackInfo.szErrorMsg, sizeof(s_CallbackInfo.szErrorMsg), "%s",
                              s_szErrorMsg);
            }
            break;
        case ERROR_KIND_SYSTEM: {
            const std::string text = plat::FormatMessageText(static_cast<uint32_t>(errorCode));
            std::snprintf(s_szErrorMsg, sizeof(s_szErrorMsg), "%s", text.c_str());
            s_nErrorKind = ERROR_KIND_SYSTEM;
            std::snprintf(s_CallbackInfo.szErrorMsg, sizeof(s_CallbackInfo.szErrorMsg), "%s",
                          s_szErrorMsg);
            break;
        }
        default:
            s_szErrorMsg[0] = '\0';
            s_nErrorKind = ERROR_KIND_NONE;
            s_CallbackInfo.nErrorCode = 0;
            s_CallbackInfo.nCustomErrorCode = 0;
            break;
    }

    UpdateLog("SetLastErrorMsg ErrorCode %d CustomErrorCode %d ErrorMsg %s\n", s_nErrorCode,
              s_nCustomErrorCode, s_szErrorMsg);
    if (s_nErrorKind != ERROR_KIND_NONE) {
        Notify(NOTIFY_ERROR);
    }
}
