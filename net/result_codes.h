#pragma once
// The result codes of a transfer and the texts the player sees for them.

#include <cstdint>

namespace toval {

enum ResultCode : int32_t {
    kResultOk = 0,
    kResultBadUrl = 1,
    kResultConnect = 2,
    kResultRedirect = 3,
    kResultRedirectUrl = 4,
    kResultNotHttp = 5,
    kResultHttpStatus = 6,
    kResultLocalFile = 7,
    kResultCancelled = 8,
    kResultEmptyUrl = 9,
    kResultLength = 10,
    kResultContent = 11,
};

// The text a failure with `code` shows (codes outside 1..11 take the fallback text).
const char* ResultCodeText(int32_t code);
// The text of a transfer that has not failed, or failed to connect or was cancelled.
extern const char* const kInitialErrorText;

}  // namespace toval
