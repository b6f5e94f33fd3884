// Every test program runs in the same surroundings whether CTest or a person
// starts it: Japan's time zone (the fixtures' local times), a UTF-8 locale and
// a data folder of its own, so that no test reads or writes the user's files.
// Set before main(); the programs the tests start inherit it.
#include <cstdlib>
#include <ctime>

namespace {

struct TTestEnvironment {
    TTestEnvironment() {
        ::setenv("TZ", "Asia/Tokyo", 1);
        ::tzset();
        ::setenv("LC_ALL", "C.UTF-8", 1);
        ::setenv("TARNHOLD_HOME", TARNHOLD_TEST_HOME, 1);
    }
};

const TTestEnvironment environment;

} // namespace
