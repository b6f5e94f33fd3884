#include "support/blockfilewriter.h"

#include "sources/chromium/chromiumblockfile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tarnhold::test {

namespace fs = std::filesystem;

namespace {

void Set32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void Set64(std::string& out, std::size_t at, std::uint64_t v) {
    Set32(out, at, static_cast<std::uint32_t>(v));
    Set32(out, at + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t Get32(std::string_view d, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(d[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint64_t Get64(std::string_view d, std::size_t at) {
    return Get32(d, at) | (static_cast<std::uint64_t>(Get32(d, at + 4)) << 32);
}

std::uint32_t Address(std::uint32_t type, std::uint32_t file, std::uint32_t start,
                      std::uint32_t blocks) {
    return 0x80000000u | (type << 28) | ((blocks - 1) << 24) | (file << 16) | start;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The free-run counts of a bitmap, as the browser keeps them in the header:
// per group of four blocks, the free run at its high end.
std::array<std::uint32_t, 4> EmptyCounts(std::string_view bitmap, std::uint32_t maxBlocks) {
    std::array<std::uint32_t, 4> empty{};
    for (std::uint32_t group = 0; group < maxBlocks / 4; ++group) {
        const unsigned nibble =
            (static_cast<unsigned char>(bitmap[group / 2]) >> (4 * (group % 2))) & 0xf;
        const int run = nibble == 0 ? 4 : nibble == 1 ? 3 : nibble < 4 ? 2 : nibble < 8 ? 1 : 0;
        if (run > 0)
            ++empty[static_cast<std::size_t>(run - 1)];
    }
    return empty;
}

struct TBlockFileModel {
    std::uint32_t Number = 0;
    std::uint32_t BlockSize = 0;
    std::string Data;
    std::vector<bool> Used;
    std::uint32_t Allocations = 0;
    std::uint32_t Cursor = 0;

    std::uint32_t Alloc(std::uint32_t blocks) {
        if (Cursor % 4 + blocks > 4)
            Cursor = (Cursor + 3) / 4 * 4;
        const std::uint32_t start = Cursor;
        Cursor += blocks;
        Used.resize(Cursor, false);
        for (std::uint32_t b = start; b < Cursor; ++b)
            Used[b] = true;
        Data.resize(static_cast<std::size_t>(Cursor) * BlockSize, '\0');
        ++Allocations;
        return start;
    }
    void Put(std::uint32_t start, std::string_view bytes) {
        std::copy(bytes.begin(), bytes.end(),
                  Data.begin() + static_cast<std::ptrdiff_t>(start) * BlockSize);
    }
    std::string Bytes() const {
        const std::uint32_t max = (Cursor + 1023) / 1024 * 1024;
        std::string out(kBlockFileHeaderSize, '\0');
        Set32(out, 0, 0xC104CAC3u);
        Set32(out, 4, 0x20000);
        Set32(out, 8, Number);
        Set32(out, 12, BlockSize);
        Set32(out, 16, Allocations);
        Set32(out, 20, max);
        for (std::uint32_t b = 0; b < Used.size(); ++b)
            if (Used[b])
                out[80 + b / 8] = static_cast<char>(out[80 + b / 8] | (1 << (b % 8)));
        const auto empty = EmptyCounts(std::string_view(out).substr(80), max);
        for (std::size_t i = 0; i < 4; ++i)
            Set32(out, 24 + 4 * i, empty[i]);
        std::string data = Data;
        data.resize(static_cast<std::size_t>(max) * BlockSize, '\0');
        return out + data;
    }
};

} // namespace

std::uint64_t BlockfileOffset(std::uint32_t address) {
    TBlockfileAddr a{address};
    return kBlockFileHeaderSize + static_cast<std::uint64_t>(a.Start()) * a.BlockSize();
}

std::vector<std::uint32_t> WriteBlockfileCache(const fs::path& folder,
                                               const std::vector<TBlockfileEntrySpec>& entries,
                                               const TBlockfileLayout& layout) {
    TBlockFileModel files[4];
    const std::uint32_t sizes[4] = {36, 256, 1024, 4096};
    for (std::uint32_t i = 0; i < 4; ++i) {
        files[i].Number = i;
        files[i].BlockSize = sizes[i];
    }
    std::uint32_t lastFile = 0;
    std::uint64_t totalBytes = 0;
    // Stores bytes where the browser would: a block file chosen by size, or
    // an external file. Returns the address.
    auto store = [&](std::string_view bytes) -> std::uint32_t {
        const std::size_t n = bytes.size();
        if (n > 16384) {
            ++lastFile;
            char name[32];
            std::snprintf(name, sizeof name, "f_%06x", lastFile);
            std::ofstream(folder / name, std::ios::binary) << bytes;
            return 0x80000000u | lastFile;
        }
        const std::uint32_t type = n < 1024 ? 2 : n < 4096 ? 3 : 4;
        TBlockFileModel& f = files[type - 1];
        const auto blocks = static_cast<std::uint32_t>((n + f.BlockSize - 1) / f.BlockSize);
        const std::uint32_t start = f.Alloc(blocks);
        f.Put(start, bytes);
        return Address(type, type - 1, start, blocks);
    };

    struct TPlaced {
        std::uint32_t Entry = 0, Node = 0, Hash = 0, List = 0;
        std::string Record;
    };
    std::vector<TPlaced> placed(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TBlockfileEntrySpec& e = entries[i];
        TPlaced& p = placed[i];
        const auto keyLength = static_cast<std::uint32_t>(e.Key.size());
        const std::uint32_t blocks =
            keyLength < 160 || keyLength > kBlockfileMaxInlineKey ? 1 : (keyLength - 160) / 256 + 2;
        const std::uint32_t start = files[1].Alloc(blocks);
        p.Entry = Address(2, 1, start, blocks);
        p.Node = Address(1, 0, files[0].Alloc(1), 1);
        p.Hash = ChromiumKeyHash(e.Key);
        p.List = e.State != 0 ? 4 : e.ReuseCount == 0 ? 0 : e.ReuseCount < 10 ? 1 : 2;
        std::string& r = p.Record;
        r.assign(256 * blocks, '\0');
        Set32(r, 0, p.Hash);
        Set32(r, 8, p.Node);
        Set32(r, 12, e.ReuseCount);
        Set32(r, 20, e.State);
        Set64(r, 24, static_cast<std::uint64_t>(e.ResponseTime));
        Set32(r, 32, keyLength);
        if (keyLength > kBlockfileMaxInlineKey)
            Set32(r, 36, store(e.Key + '\0'));
        else
            std::copy(e.Key.begin(), e.Key.end(), r.begin() + 96);
        if (e.State != 1) {
            const std::string streams[3] = {ChromiumHeadPickle(e), e.Body, e.Metadata};
            for (std::size_t s = 0; s < 3; ++s) {
                if (streams[s].empty())
                    continue;
                Set32(r, 40 + 4 * s, static_cast<std::uint32_t>(streams[s].size()));
                Set32(r, 56 + 4 * s, store(streams[s]));
                totalBytes += streams[s].size();
            }
        }
        totalBytes += keyLength;
        Set32(r, 72, e.Flags);
    }

    // The hash table: each chain in the order given.
    const std::uint32_t mask = layout.TableLength - 1;
    std::vector<std::uint32_t> table(layout.TableLength, 0);
    std::map<std::uint32_t, std::size_t> lastInSlot;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].InIndex)
            continue;
        const std::uint32_t slot = placed[i].Hash & mask;
        auto it = lastInSlot.find(slot);
        if (it == lastInSlot.end())
            table[slot] = placed[i].Entry;
        else
            Set32(placed[it->second].Record, 4, placed[i].Entry);
        lastInSlot[slot] = i;
    }
    for (TPlaced& p : placed) {
        Set32(p.Record, 92, ChromiumKeyHash(std::string_view(p.Record).substr(0, 92)));
        TBlockfileAddr a{p.Entry};
        files[1].Put(a.Start(), p.Record);
    }

    // The recently-used lists: each in the order given, head first.
    std::uint32_t heads[5] = {}, tails[5] = {}, counts[5] = {};
    std::vector<std::size_t> lists[5];
    for (std::size_t i = 0; i < entries.size(); ++i)
        lists[placed[i].List].push_back(i);
    for (std::uint32_t l = 0; l < 5; ++l) {
        const auto& list = lists[l];
        counts[l] = static_cast<std::uint32_t>(list.size());
        for (std::size_t k = 0; k < list.size(); ++k) {
            const TPlaced& p = placed[list[k]];
            std::string node(36, '\0');
            Set64(node, 0, static_cast<std::uint64_t>(entries[list[k]].ResponseTime));
            Set64(node, 8, static_cast<std::uint64_t>(entries[list[k]].ResponseTime));
            Set32(node, 16, k + 1 < list.size() ? placed[list[k + 1]].Node : p.Node);
            Set32(node, 20, k > 0 ? placed[list[k - 1]].Node : p.Node);
            Set32(node, 24, p.Entry);
            Set32(node, 28, entries[list[k]].Dirty);
            Set32(node, 32, ChromiumKeyHash(std::string_view(node).substr(0, 32)));
            files[0].Put(TBlockfileAddr{p.Node}.Start(), node);
        }
        if (!list.empty()) {
            heads[l] = placed[list.front()].Node;
            tails[l] = placed[list.back()].Node;
        }
    }

    std::string index(368 + 4 * static_cast<std::size_t>(layout.TableLength), '\0');
    Set32(index, 0, 0xC103CAC3u);
    Set32(index, 4, layout.Version);
    Set32(index, 8, static_cast<std::uint32_t>(entries.size()));
    if (layout.Version == 0x30000)
        Set64(index, 48, totalBytes);
    else
        Set32(index, 12, static_cast<std::uint32_t>(totalBytes));
    Set32(index, 16, lastFile);
    Set32(index, 20, 1);
    Set32(index, 28, layout.TableLength);
    Set64(index, 40, 13411756800000000ULL);
    for (std::size_t l = 0; l < 5; ++l) {
        Set32(index, 256 + 12 + 4 * l, counts[l]);
        Set32(index, 256 + 32 + 4 * l, heads[l]);
        Set32(index, 256 + 52 + 4 * l, tails[l]);
    }
    for (std::size_t s = 0; s < table.size(); ++s)
        Set32(index, 368 + 4 * s, table[s]);
    std::ofstream(folder / "index", std::ios::binary) << index;
    for (const TBlockFileModel& f : files)
        std::ofstream(folder / ("data_" + std::to_string(f.Number)), std::ios::binary) << f.Bytes();
    std::vector<std::uint32_t> addresses;
    for (const TPlaced& p : placed)
        addresses.push_back(p.Entry);
    return addresses;
}

std::vector<std::string> BlockfileInconsistencies(const fs::path& folder) {
    std::vector<std::string> out;
    auto bad = [&](std::string what) { out.push_back(std::move(what)); };
    const std::string index = ReadFile(folder / "index");
    if (index.size() < 368 || Get32(index, 0) != 0xC103CAC3u) {
        bad("index: no header");
        return out;
    }
    const std::uint32_t version = Get32(index, 4);
    const std::uint32_t tableLength = Get32(index, 28) == 0 ? 0x10000 : Get32(index, 28);
    if (index.size() < 368 + 4ull * tableLength) {
        bad("index: cut short");
        return out;
    }
    std::map<std::uint32_t, std::string> data;
    for (const auto& f : fs::directory_iterator(folder)) {
        const std::string name = f.path().filename().string();
        if (name.rfind("data_", 0) == 0)
            data[static_cast<std::uint32_t>(std::stoul(name.substr(5)))] = ReadFile(f.path());
    }
    // Every block referenced, once.
    std::map<std::uint32_t, std::set<std::uint32_t>> used; // file -> blocks
    std::map<std::uint32_t, std::uint32_t> allocations;    // file -> count
    std::set<std::string> external;
    auto hex = [](std::uint32_t v) {
        char t[16];
        std::snprintf(t, sizeof t, "0x%08x", v);
        return std::string(t);
    };
    auto block = [&](std::uint32_t address, const std::string& what) -> std::string_view {
        TBlockfileAddr a{address};
        if (a.IsExternal()) {
            char name[32];
            std::snprintf(name, sizeof name, "f_%06x", a.FileNumber());
            if (!external.insert(name).second)
                bad(what + ": " + name + " named twice");
            return {};
        }
        auto it = data.find(a.File());
        const std::uint64_t at = BlockfileOffset(address);
        if (!a.Sane() || it == data.end() || at + a.Blocks() * a.BlockSize() > it->second.size()) {
            bad(what + ": bad address " + hex(address));
            return {};
        }
        ++allocations[a.File()];
        for (std::uint32_t b = a.Start(); b < a.Start() + a.Blocks(); ++b)
            if (!used[a.File()].insert(b).second)
                bad(what + ": block " + std::to_string(b) + " of data_" + std::to_string(a.File()) +
                    " used twice");
        return std::string_view(it->second).substr(at, a.Blocks() * a.BlockSize());
    };
    if (Get32(index, 24) != 0)
        (void)block(Get32(index, 24), "the statistics");

    std::uint64_t bytes = 0;
    std::set<std::uint32_t> entries;
    std::map<std::uint32_t, std::uint32_t> nodeOf; // node -> entry
    auto takeEntry = [&](std::uint32_t address, const std::string& where) -> bool {
        if (!entries.insert(address).second)
            return false;
        std::string_view record = block(address, where);
        if (record.empty())
            return false;
        TBlockfileEntry e;
        if (TError error = ParseBlockfileEntry(record, e)) {
            bad(where + ": " + error.Text());
            return false;
        }
        if (e.SelfHashMismatch)
            bad(where + ": its checksum does not fit");
        std::string key = e.Key;
        if (e.LongKey.Value != 0 && e.LongKey.IsExternal()) {
            (void)block(e.LongKey.Value, where + " key");
            char name[32];
            std::snprintf(name, sizeof name, "f_%06x", e.LongKey.FileNumber());
            key = ReadFile(folder / name).substr(0, e.KeyLength);
        } else if (e.LongKey.Value != 0) {
            std::string_view k = block(e.LongKey.Value, where + " key");
            key = std::string(k.substr(0, e.KeyLength));
        }
        if (ChromiumKeyHash(key) != e.Hash)
            bad(where + ": the key's hash does not fit");
        (void)block(e.RankingsNode.Value, where + " node");
        nodeOf[e.RankingsNode.Value] = address;
        bytes += e.KeyLength;
        for (int s = 0; s < 4; ++s) {
            bytes += e.DataSize[s];
            if (e.DataSize[s] != 0)
                (void)block(e.DataAddr[s].Value, where + " stream " + std::to_string(s));
        }
        return true;
    };
    for (std::uint32_t slot = 0; slot < tableLength; ++slot) {
        std::set<std::uint32_t> chain;
        for (std::uint32_t a = Get32(index, 368 + 4ull * slot); a != 0;) {
            if (!chain.insert(a).second) {
                bad("slot " + std::to_string(slot) + ": a loop");
                break;
            }
            const std::string where = "entry " + hex(a);
            if (!takeEntry(a, where))
                break;
            const std::string_view record =
                std::string_view(data[TBlockfileAddr{a}.File()]).substr(BlockfileOffset(a), 256);
            if ((Get32(record, 0) & (tableLength - 1)) != slot)
                bad(where + ": in the wrong slot");
            a = Get32(record, 4);
        }
    }
    // The lists: heads point back to themselves, tails forward.
    std::uint32_t listed = 0;
    const std::string& data0 = data[0];
    for (std::size_t l = 0; l < 5; ++l) {
        const std::uint32_t head = Get32(index, 256 + 32 + 4 * l);
        const std::uint32_t tail = Get32(index, 256 + 52 + 4 * l);
        const std::uint32_t size = Get32(index, 256 + 12 + 4 * l);
        std::uint32_t count = 0;
        std::uint32_t prev = head;
        const std::string list = "list " + std::to_string(l);
        if ((head == 0) != (tail == 0))
            bad(list + ": a head without a tail");
        for (std::uint32_t n = head; n != 0 && count <= data0.size() / 36;) {
            const std::uint64_t at = BlockfileOffset(n);
            if (at + 36 > data0.size()) {
                bad(list + ": bad node " + hex(n));
                break;
            }
            const std::string_view node = std::string_view(data0).substr(at, 36);
            ++count;
            if (Get32(node, 32) != ChromiumKeyHash(node.substr(0, 32)))
                bad(list + ": node " + hex(n) + "'s checksum does not fit");
            if (Get32(node, 20) != prev)
                bad(list + ": node " + hex(n) + " points back elsewhere");
            const std::uint32_t contents = Get32(node, 24);
            if (nodeOf.count(n) == 0 && !takeEntry(contents, "listed entry " + hex(contents)))
                bad(list + ": node " + hex(n) + " names no entry");
            if (nodeOf.count(n) != 0 && nodeOf[n] != contents)
                bad(list + ": node " + hex(n) + " names another entry");
            const std::uint32_t next = Get32(node, 16);
            if (next == n) {
                if (n != tail)
                    bad(list + ": ends before its tail");
                break;
            }
            prev = n;
            n = next;
        }
        if (count != size)
            bad(list + ": " + std::to_string(count) + " nodes, " + std::to_string(size) +
                " counted");
        listed += count;
    }
    if (listed != nodeOf.size())
        bad(std::to_string(nodeOf.size()) + " entries, " + std::to_string(listed) + " listed");
    if (Get32(index, 8) != entries.size())
        bad("index: " + std::to_string(Get32(index, 8)) + " entries counted, " +
            std::to_string(entries.size()) + " found");
    const std::uint64_t counted = version == 0x30000 ? Get64(index, 48) : Get32(index, 12);
    if (counted != bytes)
        bad("index: " + std::to_string(counted) + " bytes counted, " + std::to_string(bytes) +
            " stored");
    if (Get32(index, 256 + 72) != 0)
        bad("index: a list operation is open");

    // The block files: bitmap, counts and free blocks against what is used.
    for (const auto& [n, bytesOfFile] : data) {
        const std::string name = "data_" + std::to_string(n);
        const std::uint32_t size = Get32(bytesOfFile, 12);
        const std::uint32_t max = Get32(bytesOfFile, 20);
        if (bytesOfFile.size() != kBlockFileHeaderSize + static_cast<std::uint64_t>(max) * size)
            bad(name + ": its length does not fit its header");
        if (Get32(bytesOfFile, 16) != allocations[n])
            bad(name + ": " + std::to_string(Get32(bytesOfFile, 16)) + " allocations counted, " +
                std::to_string(allocations[n]) + " used");
        const auto empty = EmptyCounts(std::string_view(bytesOfFile).substr(80), max);
        for (std::size_t i = 0; i < 4; ++i)
            if (Get32(bytesOfFile, 24 + 4 * i) != empty[i])
                bad(name + ": its free-run counts do not fit its bitmap");
        if (Get32(bytesOfFile, 56) != 0)
            bad(name + ": left updating");
        for (std::uint32_t b = 0; b < max; ++b) {
            const bool set =
                (static_cast<unsigned char>(bytesOfFile[80 + b / 8]) >> (b % 8) & 1) != 0;
            const bool isUsed = used[n].count(b) != 0;
            if (set != isUsed)
                bad(name + ": block " + std::to_string(b) +
                    (set ? " allocated, unused" : " used, free"));
            if (!set) {
                const std::string_view free =
                    std::string_view(bytesOfFile)
                        .substr(kBlockFileHeaderSize + static_cast<std::uint64_t>(b) * size, size);
                if (free.find_first_not_of('\0') != std::string_view::npos)
                    bad(name + ": free block " + std::to_string(b) + " not zero");
            }
        }
    }
    for (const auto& f : fs::directory_iterator(folder)) {
        const std::string name = f.path().filename().string();
        if (name.rfind("f_", 0) == 0 && external.count(name) == 0)
            bad(name + ": named by no entry");
    }
    for (const std::string& name : external)
        if (!fs::exists(folder / name))
            bad(name + ": missing");
    return out;
}

} // namespace tarnhold::test
