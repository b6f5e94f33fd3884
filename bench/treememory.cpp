// Memory of the cache tree: peak RSS of a whole process that refreshes a tree
// of N generated entries (and keeps it), less the peak of the same process
// over a 1-entry cache, divided by N. Each size runs in a process of its own
// so that no run inherits another's heap.
//
//   treememory [N ...]        (default: 10000 60000 1000000)
#include "syntheticsource.h"
#include "tree/webcachetree.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnhold;

// The peak RSS in KiB of a child that refreshes a tree of count entries, or
// -1 when the child failed.
long PeakKiB(std::size_t count) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        auto tree =
            std::make_unique<TWebCacheTree>(std::make_unique<bench::TSyntheticCacheSource>(count));
        tree->LoadContentTypes();
        if (tree->Refresh())
            ::_exit(2);
        if (tree->CountFiles(tree->Root()) <= 0)
            ::_exit(3);
        ::_exit(0); // the tree is measured as it stands, not freed
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(static_cast<std::size_t>(std::strtoull(argv[i], nullptr, 10)));
    if (sizes.empty())
        sizes = {10000, 60000, 1000000};
    const long base = PeakKiB(1);
    if (base < 0) {
        std::fprintf(stderr, "treememory: the 1-entry run failed\n");
        return 1;
    }
    std::printf("1-entry baseline: %ld KiB peak RSS\n", base);
    for (std::size_t n : sizes) {
        const long peak = PeakKiB(n);
        if (peak < 0) {
            std::fprintf(stderr, "treememory: the run of %zu entries failed\n", n);
            return 1;
        }
        std::printf("%9zu entries: peak %8ld KiB, %7.0f B/entry over the baseline\n", n, peak,
                    static_cast<double>(peak - base) * 1024.0 / static_cast<double>(n));
    }
    return 0;
}
