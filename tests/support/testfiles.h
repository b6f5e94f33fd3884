// Files the tests, benchmarks and fuzzers lay out for the code under test.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarnhold {

// Creates or truncates file and writes data to it; false (errno set) when
// that fails.
bool WriteTestFile(const std::filesystem::path& file, std::string_view data);

} // namespace tarnhold
