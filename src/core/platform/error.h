// The one way the core reports a failure: an error code (an errno value, or 0
// for success) and the text a user is shown for it, which ends with the
// system's own error text. The text is UTF-8: names from the cache (ANSI)
// are converted where they are put into it. Cheap to return; empty when all
// went well.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace tarnhold {

class [[nodiscard]] TError {
public:
    TError() = default;
    // A failure with the system's text for code (strerror), e.g. "No such file
    // or directory".
    static TError FromErrno(int code);
    // A failure whose text says more than the system's text: "what: <system
    // text>", or what alone when code has no text of its own.
    static TError FromErrno(int code, std::string_view what);
    // A failure the system has no code for (a damaged file): EBADMSG and text.
    static TError Message(std::string text, int code = EBADMSG);

    bool Ok() const { return code_ == 0; }
    explicit operator bool() const { return code_ != 0; } // true on failure
    int Code() const { return code_; }
    const std::string& Text() const { return text_; }

private:
    TError(int code, std::string text) : code_(code), text_(std::move(text)) {}
    int code_ = 0;
    std::string text_;
};

} // namespace tarnhold
