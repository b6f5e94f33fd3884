#include "support/chromiumentrywriter.h"

#include "sources/chromium/chromiumcache.h"

#include <cstdio>
#include <fstream>
#include <zlib.h>

namespace tarnhold::test {

namespace {

void Put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}

void Put64(std::string& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}

void PutString(std::string& out, const std::string& s) {
    Put32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
    while (out.size() % 4 != 0)
        out += '\0';
}

std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void PutEof(std::string& out, std::uint32_t flags, std::uint32_t crc, std::uint32_t size) {
    Put64(out, 0xf4fa6f45970d41d8ULL);
    Put32(out, flags);
    Put32(out, crc);
    Put32(out, size);
    Put32(out, 0);
}

} // namespace

std::string ChromiumHeadPickle(const TChromiumEntrySpec& spec) {
    std::string raw;
    for (char c : spec.Head) {
        if (c == '\r')
            continue;
        raw += c == '\n' ? '\0' : c;
    }
    if (raw.empty() || raw.back() != '\0')
        raw += '\0';
    raw += '\0';
    std::string payload;
    Put32(payload, 0x80000003u | (spec.Truncated ? 1u << 12 : 0u));
    Put32(payload, 0);                                                      // extra flags
    Put64(payload, static_cast<std::uint64_t>(spec.ResponseTime - 100000)); // request
    Put64(payload, static_cast<std::uint64_t>(spec.ResponseTime));
    PutString(payload, raw);
    PutString(payload, "127.0.0.1");
    Put32(payload, 8765);
    std::string head;
    Put32(head, static_cast<std::uint32_t>(payload.size()));
    head += payload;
    return head;
}

std::string ChromiumEntryBytes(const TChromiumEntrySpec& spec) {
    const std::string head = ChromiumHeadPickle(spec);
    std::string out;
    Put64(out, 0xfcfb6d1ba7725c30ULL);
    Put32(out, 5);
    Put32(out, static_cast<std::uint32_t>(spec.Key.size()));
    Put32(out, ChromiumKeyHash(spec.Key));
    Put32(out, 0);
    out += spec.Key;
    out += spec.Body;
    PutEof(out, spec.BodyCrc ? 1 : 0, spec.BodyCrc ? Crc(spec.Body) : 0, 0);
    out += head;
    if (spec.KeySha256)
        out += ChromiumKeySha256(spec.Key);
    PutEof(out, spec.KeySha256 ? 3 : 1, Crc(head), static_cast<std::uint32_t>(head.size()));
    return out;
}

std::string ChromiumEntryName(std::size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx_0",
                  static_cast<unsigned long long>(n * 0x9e3779b97f4a7c15ULL));
    return name;
}

std::filesystem::path WriteChromiumEntry(const std::filesystem::path& folder, std::size_t n,
                                         const TChromiumEntrySpec& spec) {
    const std::filesystem::path file = folder / ChromiumEntryName(n);
    std::ofstream(file, std::ios::binary) << ChromiumEntryBytes(spec);
    return file;
}

void WriteChromiumIndex(const std::filesystem::path& folder) {
    std::string index;
    Put64(index, 0xfcfb6d1ba7725c30ULL);
    Put32(index, 9);
    Put32(index, 0);
    Put32(index, 0);
    Put32(index, 0);
    std::ofstream(folder / "index", std::ios::binary) << index;
}

} // namespace tarnhold::test
