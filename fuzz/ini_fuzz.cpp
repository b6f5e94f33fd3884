// The profile (INI) reader over arbitrary bytes; then one key is written and
// read back, and every other key must read as before.
#include "platform/codepage.h"
#include "platform/profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace {

using namespace tarnhold;
using TValues = std::map<std::string, std::string>; // "section\nkey" (lower case) -> value

TValues AllValues(const TProfileFile& ini) {
    TValues values;
    for (const auto& section : ini.ReadSections()) {
        for (const auto& key : ini.ReadSection(section))
            values[AnsiLowerCase(section) + "\n" + AnsiLowerCase(key)] =
                ini.ReadString(section, key, "\x01missing");
    }
    return values;
}

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

void WriteAndCheck(TProfileFile& ini, const std::string& section, const std::string& key,
                   std::string_view value) {
    const TValues before = AllValues(ini);
    if (!ini.WriteString(section, key, value))
        return; // a name no line can hold
    std::string expected(value);
    for (char& c : expected)
        if (c == '\r' || c == '\n')
            c = ' ';
    expected = std::string(Trim(expected));
    if (ini.ReadString(section, key, "\x01missing") != expected)
        std::abort();
    // The written text, read again, gives the same values, and only the
    // written key changed.
    TProfileFile again;
    again.SetText(ini.Text());
    TValues after = AllValues(again);
    if (again.ReadString(section, key, "\x01missing") != expected)
        std::abort();
    after.erase(AnsiLowerCase(Trim(section)) + "\n" + AnsiLowerCase(Trim(key)));
    TValues old = before;
    old.erase(AnsiLowerCase(Trim(section)) + "\n" + AnsiLowerCase(Trim(key)));
    if (after != old)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384)
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    TProfileFile ini;
    ini.SetAutoUpdate(false);
    ini.SetText(text);
    (void)ini.Text();
    const auto sections = ini.ReadSections();
    const std::string_view value = text.substr(size / 2, 24);
    if (!sections.empty()) {
        const auto keys = ini.ReadSection(sections.front());
        for (const auto& k : keys) {
            (void)ini.ReadInteger(sections.front(), k, 0);
            (void)ini.ReadBool(sections.front(), k, false);
        }
        if (!keys.empty())
            WriteAndCheck(ini, sections.front(), keys.front(), value);
        WriteAndCheck(ini, sections.back(), "FuzzKey", value);
        ini.DeleteKey(sections.front(), "FuzzKey");
        ini.EraseSection(sections.back());
    }
    WriteAndCheck(ini, "Fuzz", "Key", value);
    // A name from the input: either refused or written and read back.
    WriteAndCheck(ini, "Fuzz", std::string(text.substr(0, 6)), value);
    WriteAndCheck(ini, std::string(text.substr(size / 3, 6)), "Key", value);
    return 0;
}
