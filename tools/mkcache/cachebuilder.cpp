#include "mkcache/cachebuilder.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/indexdat/indexdatsource.h"
#include "text/urlscheme.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

// Time of the entries that give none: 2013-05-01 00:00:00 UTC, so that a
// manifest always yields the same bytes.
constexpr std::int64_t kDefaultAccessUnix = 1367366400;
constexpr std::uint32_t kStickyExemptDelta = 86400;
constexpr std::size_t kMaxStemBytes = 64;

std::string DirKey(std::string_view name) {
    return AnsiLowerCase(name);
}

// Writes a cached file of the new cache: bytes given, or a copy of a file.
bool WriteCachedFile(const fs::path& target, const std::string& bytes, const fs::path& from,
                     int& error) {
    if (from.empty())
        return WriteFileAtomic(target, bytes, &error);
    std::error_code ec;
    fs::copy_file(from, target, fs::copy_options::overwrite_existing, ec);
    error = ec.value();
    return !ec;
}

} // namespace

std::string UrlBaseName(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    if (const std::size_t scheme = SchemePrefixLength(url); scheme != 0) {
        url.remove_prefix(scheme);
        const std::size_t slash = url.find('/');
        url = slash == std::string_view::npos ? std::string_view{} : url.substr(slash);
    }
    const std::size_t last = url.find_last_of('/');
    std::string base(last == std::string_view::npos ? url : url.substr(last + 1));
    for (char& c : base) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr)
            c = '_';
    }
    if (base == "." || base == "..")
        base.clear();
    return base;
}

TCacheBuilder::TCacheBuilder(fs::path folder, TCacheBuildOptions options)
    : folder_(std::move(folder)), options_(options) {
    const std::size_t dirs = std::clamp<std::size_t>(options_.DirCount, 1, kIdxMaxDirs);
    for (std::size_t i = 0; i < dirs; ++i)
        dirNames_.push_back(RandomName(kIdxDirNameSize));
    usedNames_.resize(dirs);
    image_ = TIndexDatWriter::Create(options_.Signature, dirNames_);
}

TError TCacheBuilder::OpenExisting() {
    std::string bytes;
    int e = 0;
    const fs::path index = folder_ / "index.dat";
    if (!ReadWholeFile(index, bytes, &e)) {
        return TError::FromErrno(e, index.string());
    }
    TIndexDatWriter image;
    if (TError why = image.Load(std::move(bytes))) {
        return TError::Message(index.string() + ": not a sound index.dat (" + why.Text() + ")");
    }
    image_ = std::move(image);
    options_.Signature = image_.Signature();
    const TIndexDatView view = image_.View();
    dirNames_.clear();
    usedNames_.assign(view.DirCount(), {});
    for (std::size_t i = 0; i < view.DirCount(); ++i) {
        dirNames_.emplace_back(view.DirName(i));
        std::error_code ec;
        if (dirNames_.back().empty())
            continue;
        for (const auto& f : fs::directory_iterator(folder_ / dirNames_.back(), ec))
            usedNames_[i].insert(DirKey(PathToAnsi(f.path().filename())));
    }
    for (const auto& item : view.LiveUrlItems()) {
        TIndexDatRecord r;
        if (view.DecodeUrlRecord(item.RecordOffset, r) && r.DirIndex < usedNames_.size())
            usedNames_[r.DirIndex].insert(DirKey(r.FileName));
    }
    return {};
}

std::string TCacheBuilder::RandomName(std::size_t length) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name;
    for (std::size_t i = 0; i < length; ++i) {
        // xorshift64: reproducible names for reproducible caches
        random_ ^= random_ << 13;
        random_ ^= random_ >> 7;
        random_ ^= random_ << 17;
        name.push_back(kChars[random_ % 36]);
    }
    return name;
}

std::string TCacheBuilder::MakeFileName(const TManifestEntry& entry, std::size_t dir) {
    auto& used = usedNames_[dir];
    std::string base = UrlBaseName(entry.Url);
    std::string ext = entry.Extension;
    std::string stem = base;
    if (const std::size_t dot = base.find_last_of('.'); dot != std::string::npos && dot > 0) {
        stem = base.substr(0, dot);
        if (ext.empty())
            ext = base.substr(dot + 1);
    }
    if (stem.size() > kMaxStemBytes) {
        std::size_t cut = kMaxStemBytes;
        while (cut > 0 && !IsCharStart(stem, cut))
            --cut;
        stem.resize(cut);
    }
    const std::string suffix = ext.empty() ? std::string() : "." + ext;
    std::string name;
    if (stem.empty()) {
        // A folder URL: a random name, as the browsers give it.
        do
            name = RandomName(8) + suffix;
        while (used.count(DirKey(name)) != 0);
    } else {
        int n = options_.Signature == TIndexDatSignature::Wine ? 0 : 1;
        do
            name = stem + "[" + std::to_string(n++) + "]" + suffix;
        while (used.count(DirKey(name)) != 0);
    }
    used.insert(DirKey(name));
    return name;
}

TError TCacheBuilder::Add(const TManifestEntry& entry) {
    if (entry.Content.empty())
        return AddImpl(entry, nullptr, nullptr, 0);
    std::error_code ec;
    const std::uint64_t size = fs::file_size(entry.Content, ec);
    if (ec) {
        return TError::FromErrno(ec.value(), entry.Content.string());
    }
    return AddImpl(entry, &entry.Content, nullptr, size);
}

TError TCacheBuilder::AddContent(const TManifestEntry& entry, std::string content) {
    const std::uint64_t size = content.size();
    return AddImpl(entry, nullptr, &content, size);
}

TError TCacheBuilder::AddImpl(const TManifestEntry& entry, const fs::path* from,
                              std::string* content, std::uint64_t contentSize) {
    const bool hasFile = from != nullptr || content != nullptr;
    const std::size_t dirs = dirNames_.size();
    if (entry.DirIndex >= 0 && static_cast<std::size_t>(entry.DirIndex) >= dirs) {
        return TError::Message(entry.Url + ": the cache has " + std::to_string(dirs) + " folders",
                               EINVAL);
    }
    TIndexDatNewEntry rec;
    rec.Url = entry.Url;
    rec.EntryType = entry.EntryType;
    rec.LastModified = entry.LastModified;
    rec.LastAccess = entry.Accessed.value_or(IsZeroFileTime(entry.LastModified)
                                                 ? UnixTimeToFileTime(kDefaultAccessUnix)
                                                 : entry.LastModified);
    rec.ExpiresDos = FileTimeToDosDateTime(entry.Expires);
    rec.LastSyncDos = FileTimeToDosDateTime(rec.LastAccess);
    rec.Size = entry.Size.value_or(contentSize);
    rec.Headers = entry.Headers;
    rec.Extension = entry.Extension;
    rec.ExemptDelta = (entry.EntryType & 0x00000004) != 0 ? kStickyExemptDelta : 0;

    // Entries without a file stay in folder 0 and are counted there, as
    // Wine does; deletion takes them off that count again.
    std::size_t dir = 0;
    if (entry.DirIndex >= 0)
        dir = static_cast<std::size_t>(entry.DirIndex);
    else if (hasFile && dirs > 0)
        dir = nextDir_ % dirs;
    rec.DirIndex = static_cast<std::uint8_t>(dir);
    bool newName = false;
    if (hasFile) {
        rec.FileName = entry.FileName.empty() ? MakeFileName(entry, dir) : entry.FileName;
        newName = usedNames_[dir].insert(DirKey(rec.FileName)).second || entry.FileName.empty();
        if (rec.FileName.find('/') != std::string::npos || rec.FileName == "." ||
            rec.FileName == "..") {
            if (newName)
                usedNames_[dir].erase(DirKey(rec.FileName));
            return TError::Message(entry.Url + ": \"" + rec.FileName + "\" is no file name",
                                   EINVAL);
        }
        rec.FileTimeDos = FileTimeToDosDateTime(rec.LastAccess);
    }

    if (TError added = image_.AddEntry(rec)) {
        if (newName)
            usedNames_[dir].erase(DirKey(rec.FileName));
        if (added.Code() == EEXIST)
            return TError::Message(entry.Url + ": the cache holds this URL already", EEXIST);
        if (added.Code() == ENOSPC)
            return TError::Message(
                "the index.dat is full: its allocation bitmap caps the file at 15.4 MiB", ENOSPC);
        return added;
    }
    if (hasFile) {
        if (entry.DirIndex < 0)
            ++nextDir_;
        if (options_.WriteFiles) {
            TPending p;
            p.Target = folder_ / AnsiToPath(dirNames_[dir]) / AnsiToPath(rec.FileName);
            if (from != nullptr)
                p.From = *from;
            else
                p.Bytes = std::move(*content);
            p.Time = rec.LastAccess;
            pending_.push_back(std::move(p));
        }
    }
    ++count_;
    return {};
}

TError TCacheBuilder::Finish() {
    int e = 0;
    auto fail = [&](const fs::path& what) { return TError::FromErrno(e, what.string()); };
    if (!ForceDirectories(folder_, &e))
        return fail(folder_);
    for (const auto& name : dirNames_) {
        if (!name.empty() && !ForceDirectories(folder_ / AnsiToPath(name), &e))
            return fail(folder_ / name);
    }
    for (const auto& p : pending_) {
        if (!WriteCachedFile(p.Target, p.Bytes, p.From, e))
            return fail(p.From.empty() ? p.Target : p.From);
        // The browser's cached files carry their download time.
        SetFileTimeUtc(p.Target, p.Time);
    }
    pending_.clear();
    if (TError why = CheckIndexDatInvariants(image_.Bytes())) {
        return TError::Message("internal error: the index breaks a rule (" + why.Text() + ")", EIO);
    }
    if (!WriteFileAtomic(folder_ / "index.dat", image_.Bytes(), &e))
        return fail(folder_ / "index.dat");
    return {};
}

} // namespace tarnhold
