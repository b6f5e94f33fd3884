#include "platform/appfolder.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <unistd.h>

namespace tarnhold {

namespace {

std::filesystem::path HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::filesystem::path(home)
                                            : std::filesystem::path("/");
}

} // namespace

std::filesystem::path GetAppFolder() {
    const char* own = std::getenv("TARNHOLD_HOME");
    if (own != nullptr && *own != '\0')
        return std::filesystem::path(own);
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/')
        return std::filesystem::path(xdg) / "tarnhold";
    return HomeFolder() / ".config" / "tarnhold";
}

std::filesystem::path GetDefaultSaveFolder() {
    return HomeFolder() / "Tarnhold";
}

std::filesystem::path CreateTempFolder(TError* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    std::string templ = (base / "TRHXXXXXX").native();
    if (::mkdtemp(templ.data()) == nullptr) {
        if (error != nullptr)
            *error = TError::FromErrno(errno, "cannot make a temporary folder in " + base.string());
        return {};
    }
    if (error != nullptr)
        *error = TError{};
    return std::filesystem::path(templ);
}

void DeleteFolder(const std::filesystem::path& dir) {
    if (dir.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

} // namespace tarnhold
