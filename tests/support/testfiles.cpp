#include "support/testfiles.h"

#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>

namespace tarnhold {

bool WriteTestFile(const std::filesystem::path& file, std::string_view data) {
    TFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.Valid())
        return false;
    const bool written = WriteAllToFd(fd.Get(), data);
    const int saved = errno;
    const int closed = fd.Close();
    if (written && closed != 0)
        errno = closed;
    else if (!written)
        errno = saved;
    return written && closed == 0;
}

} // namespace tarnhold
