#include "platform/error.h"

#include "platform/codepage.h"

#include <cstring>

namespace tarnhold {

namespace {

// The system's text for an errno value, in UTF-8 whatever the locale's
// character set; empty for a value the system does not know.
std::string SystemText(int code) {
    if (strerrorname_np(code) == nullptr)
        return {};
    char buf[256];
    // The GNU strerror_r: returns the text, in buf or a static string.
    return LocaleToUtf8(strerror_r(code, buf, sizeof buf));
}

} // namespace

TError TError::FromErrno(int code) {
    if (code == 0)
        code = EIO; // a failure always has a code
    std::string text = SystemText(code);
    if (text.empty())
        text = "error " + std::to_string(code);
    return TError(code, std::move(text));
}

TError TError::FromErrno(int code, std::string_view what) {
    TError error = FromErrno(code);
    if (!what.empty())
        error.text_ = std::string(what) + ": " + error.text_;
    return error;
}

TError TError::Message(std::string text, int code) {
    return TError(code == 0 ? EIO : code, std::move(text));
}

} // namespace tarnhold
