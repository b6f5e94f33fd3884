// How much memory a piece of work takes: it runs in a child process, whose
// peak resident size is compared with its size when the work began.
#pragma once

#include <cstdint>
#include <functional>

namespace tarnhold::testing {

// The growth of the peak resident set (bytes) while work ran in a forked
// child, or -1 when the child could not run or work returned false. The
// caller must have no other threads running.
std::int64_t PeakGrowthOf(const std::function<bool()>& work);

// Whether work, run in a forked child, returns true within cpuSeconds of
// processor time: a guard against work that grows with the square of its
// input, set far above what the linear work takes, never a measurement.
bool FinishesWithin(int cpuSeconds, const std::function<bool()>& work);

} // namespace tarnhold::testing
