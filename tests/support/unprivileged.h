// Running a check as an ordinary user, for tests of files that cannot be read:
// root reads every file, so as root the check runs in a child process that
// has become "nobody" first.
#pragma once

#include <functional>

namespace tarnhold::testing {

// The check's result (0 for success, by the caller's convention), or 100 when
// the unprivileged child could not be made. The check runs in a child when
// the process is root: it must not use the test framework's assertions, and
// it must work in a folder of its own (CreateTempFolder), since the test's
// folders belong to root.
int RunUnprivileged(const std::function<int()>& check);

} // namespace tarnhold::testing
