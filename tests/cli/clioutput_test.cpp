// The text forms tarnhold-cli writes: escaped for a terminal, TSV fields,
// JSON strings and ISO 8601 times.
#include "clioutput.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace tarnhold::cli {
namespace {

struct TEscapeCase {
    const char* Name;
    std::string In;
    std::string Terminal;
    std::string Tsv;
    std::string Json;
};

TEST(CliOutput, EscapesControlsInEveryForm) {
    const TEscapeCase cases[] = {
        {"plain", "http://h/a b", "http://h/a b", "http://h/a b", "\"http://h/a b\""},
        {"Japanese stays", "日本/語", "日本/語", "日本/語", "\"日本/語\""},
        {"tab and line breaks", "a\tb\nc\rd", "a\\tb\\nc\\rd", "a\\tb\\nc\\rd",
         "\"a\\tb\\nc\\rd\""},
        {"ESC, BEL and DEL", "\x1b[2J\a\x7f", "\\x1b[2J\\x07\\x7f", "\\x1b[2J\\x07\\x7f",
         "\"\\u001b[2J\\u0007\\u007f\""},
        {"C1 control CSI (U+009B)",
         "a\xc2\x9b"
         "31m",
         "a\\x9b31m", "a\\x9b31m", "\"a\\u009b31m\""},
        {"backslash", "a\\b", "a\\b", "a\\\\b", "\"a\\\\b\""},
        {"quote", "say \"x\"", "say \"x\"", "say \"x\"", "\"say \\\"x\\\"\""},
        {"bytes that are no UTF-8", "a\xff\xe3\x81", "a\\xff\\xe3\\x81", "a\\xff\\xe3\\x81",
         "\"a\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForTerminal(c.In), c.Terminal) << c.Name;
        EXPECT_EQ(EscapeTsvField(c.In), c.Tsv) << c.Name;
        EXPECT_EQ(JsonString(c.In), c.Json) << c.Name;
    }
    // Shift-JIS bytes (--raw): 0x80-0x9F lead characters and stay.
    EXPECT_EQ(EscapeAnsiForTerminal("\x83\x5c\x1b\n"), "\x83\x5c\\x1b\\n");
}

class TZone {
public:
    explicit TZone(const char* zone) {
        const char* old = std::getenv("TZ");
        old_ = old != nullptr ? old : "";
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TZone() {
        ::setenv("TZ", old_.c_str(), 1);
        ::tzset();
    }

private:
    std::string old_;
};

TEST(CliOutput, IsoTimesCarryTheOffsetOfTheirMoment) {
    {
        TZone zone("Europe/Berlin");
        EXPECT_EQ(IsoTime(MakeSystemTime(2012, 1, 15, 9, 5, 7)), "2012-01-15T09:05:07+01:00");
        EXPECT_EQ(IsoTime(MakeSystemTime(2012, 7, 15, 9, 5, 7)), "2012-07-15T09:05:07+02:00");
    }
    {
        TZone zone("America/St_Johns");
        EXPECT_EQ(IsoTime(MakeSystemTime(2012, 1, 15, 23, 0, 0)), "2012-01-15T23:00:00-03:30");
    }
    EXPECT_EQ(IsoTime(SYSTEMTIME{}), "") << "no time";
    EXPECT_EQ(IsoTime(MakeSystemTime(2012, 13, 1)), "") << "a month out of range";
    EXPECT_EQ(TValue::Time(SYSTEMTIME{}).Kind, TValue::vkNull);
}

} // namespace
} // namespace tarnhold::cli
