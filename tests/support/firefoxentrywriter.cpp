#include "support/firefoxentrywriter.h"

#include "platform/files.h"
#include "sources/firefox/firefoxcache.h"
#include "support/testfiles.h"

#include <cstdio>

namespace tarnhold::test {

namespace {

void PutBe32(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void PutBe16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

} // namespace

std::string FirefoxEntryBytes(const TFirefoxEntrySpec& spec) {
    constexpr std::size_t kChunk = 256 * 1024;
    std::string meta;
    for (std::size_t at = 0; at < spec.Body.size(); at += kChunk)
        PutBe16(meta, static_cast<std::uint16_t>(
                          FirefoxHash(std::string_view(spec.Body).substr(at, kChunk))));
    PutBe32(meta, 4); // version
    PutBe32(meta, spec.FetchCount);
    PutBe32(meta, spec.LastFetched);
    PutBe32(meta, spec.LastModified);
    PutBe32(meta, 1245403180); // frecency
    PutBe32(meta, spec.Expiration);
    PutBe32(meta, static_cast<std::uint32_t>(spec.Key.size()));
    PutBe32(meta, 0); // flags
    meta += spec.Key;
    meta.push_back('\0');
    auto element = [&](const std::string& name, const std::string& value) {
        meta += name;
        meta.push_back('\0');
        meta += value;
        meta.push_back('\0');
    };
    element("request-method", "GET");
    element("response-head", spec.ResponseHead);
    for (const auto& [name, value] : spec.MoreElements)
        element(name, value);
    std::string out = spec.Body;
    PutBe32(out, FirefoxHash(meta));
    out += meta;
    PutBe32(out, 4);
    PutBe32(out, static_cast<std::uint32_t>(spec.Body.size()) | (spec.Encrypted ? 0x80000000U : 0));
    return out;
}

std::string FirefoxEntryName(std::size_t n) {
    char name[41];
    std::snprintf(name, sizeof name, "%040zX", n);
    return name;
}

std::filesystem::path WriteFirefoxEntry(const std::filesystem::path& cache2, std::size_t n,
                                        const TFirefoxEntrySpec& spec) {
    const std::filesystem::path dir = cache2 / "entries";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path file = dir / FirefoxEntryName(n);
    WriteTestFile(file, FirefoxEntryBytes(spec));
    return file;
}

} // namespace tarnhold::test
