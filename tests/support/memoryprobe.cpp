#include "support/memoryprobe.h"

#include <cstdio>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold::testing {

namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"), or -1.
std::int64_t StatusBytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    std::int64_t value = -1;
    const std::string_view name(field);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        const std::string_view text(line);
        if (text.substr(0, name.size()) == name && text.size() > name.size() &&
            text[name.size()] == ':') {
            long long kib = 0;
            if (std::sscanf(line + name.size() + 1, "%lld", &kib) == 1)
                value = static_cast<std::int64_t>(kib) * 1024;
            break;
        }
    }
    std::fclose(f);
    return value;
}

// Makes the peak resident size the present one.
bool ResetPeak() {
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (f == nullptr)
        return false;
    const bool written = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && written;
}

} // namespace

std::int64_t PeakGrowthOf(const std::function<bool()>& work) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (child == 0) {
        ::close(fds[0]);
        std::int64_t growth = -1;
        const std::int64_t before = ResetPeak() ? StatusBytes("VmRSS") : -1;
        if (before >= 0 && work()) {
            const std::int64_t peak = StatusBytes("VmHWM");
            growth = peak < 0 ? -1 : peak > before ? peak - before : 0;
        }
        (void)!::write(fds[1], &growth, sizeof growth);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::int64_t growth = -1;
    if (::read(fds[0], &growth, sizeof growth) != sizeof growth)
        growth = -1;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return growth;
}

bool FinishesWithin(int cpuSeconds, const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        rlimit limit{static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds)};
        ::setrlimit(RLIMIT_CPU, &limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace tarnhold::testing
