#include "sources/cachelocation.h"

#include "platform/browsers.h"
#include "platform/files.h"
#include "sources/chromium/chromiumbackends.h"

#include <algorithm>
#include <deque>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

// Where a user's profile keeps the cache, newest Wine and Windows first.
const char* const kProfileCacheFolders[] = {
    "AppData/Local/Microsoft/Windows/INetCache/Content.IE5",
    "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5",
    "Local Settings/Temporary Internet Files/Content.IE5",
};

// Folders of profiles below a drive (Wine's drive_c, a Windows disk).
const char* const kProfileFolders[] = {"users", "Users", "Documents and Settings"};

// A folder of profiles is read up to this many entries: a hostile or huge
// folder costs a bounded time.
constexpr std::size_t kMaxProfiles = 512;

std::string Env(const TGetEnv& getEnv, const char* name) {
    const char* v = getEnv(name);
    return v != nullptr ? std::string(v) : std::string();
}

bool HoldsIndex(const fs::path& folder) {
    return FileExists(folder / "index.dat");
}

void Add(std::vector<TFoundCache>& found, const fs::path& folder, std::string description,
         TCacheKind kind = TCacheKind::ckIndexDat) {
    for (const auto& f : found) {
        if (f.Folder == folder)
            return;
    }
    found.push_back({folder, std::move(description), kind});
}

// Where the browsers built on Chromium keep their profiles (each a folder
// with its Cache) in a Windows user's profile, and their names.
const std::pair<const char*, const char*> kWindowsChromiumFamily[] = {
    {"AppData/Local/Google/Chrome/User Data", "Google Chrome"},
    {"AppData/Local/Google/Chrome Beta/User Data", "Google Chrome beta"},
    {"AppData/Local/Google/Chrome SxS/User Data", "Google Chrome canary"},
    {"AppData/Local/Chromium/User Data", "Chromium"},
    {"AppData/Local/Microsoft/Edge/User Data", "Microsoft Edge"},
    {"AppData/Local/Microsoft/Edge Beta/User Data", "Microsoft Edge beta"},
    {"AppData/Local/BraveSoftware/Brave-Browser/User Data", "Brave"},
    {"AppData/Local/Vivaldi/User Data", "Vivaldi"},
    // Opera's profile folders ("Opera Stable", "Opera GX Stable") hold the cache.
    {"AppData/Local/Opera Software", "Opera"},
    // Windows XP
    {"Local Settings/Application Data/Google/Chrome/User Data", "Google Chrome"},
    {"Local Settings/Application Data/Chromium/User Data", "Chromium"},
};

std::vector<fs::path> SubFolders(const fs::path& dir);

void FromProfile(std::vector<TFoundCache>& found, const fs::path& profile,
                 const std::string& description) {
    for (const char* sub : kProfileCacheFolders) {
        if (HoldsIndex(profile / sub))
            Add(found, profile / sub, description);
    }
    for (const auto& [folder, name] : kWindowsChromiumFamily) {
        std::vector<fs::path> browserProfiles = SubFolders(profile / folder);
        // The default profile first.
        std::stable_partition(browserProfiles.begin(), browserProfiles.end(),
                              [](const fs::path& p) { return p.filename() == "Default"; });
        for (const auto& p : browserProfiles) {
            // Cache/Cache_Data; Cache itself before 2021.
            for (const fs::path& data : {p / "Cache" / "Cache_Data", p / "Cache"}) {
                if (IsAnyChromiumCacheFolder(data)) {
                    Add(found, data,
                        std::string(name) + ", profile " + p.filename().string() + ", " +
                            description,
                        TCacheKind::ckChromium);
                    break;
                }
            }
        }
    }
}

void FromProfiles(std::vector<TFoundCache>& found, const fs::path& users,
                  const std::string& currentUser, const std::string& where) {
    if (!DirectoryExists(users))
        return;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(users, ec), end; !ec && it != end; it.increment(ec)) {
        if (names.size() >= kMaxProfiles)
            break;
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    if (auto it = std::find(names.begin(), names.end(), currentUser); it != names.end())
        std::rotate(names.begin(), it, it + 1);
    for (const auto& user : names)
        FromProfile(found, users / user, "user " + user + where);
}

void FromDrive(std::vector<TFoundCache>& found, const fs::path& drive,
               const std::string& currentUser, const std::string& where) {
    for (const char* users : kProfileFolders)
        FromProfiles(found, drive / users, currentUser, where);
}

// The folders below dir, sorted (the first kMaxProfiles only).
std::vector<fs::path> SubFolders(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (out.size() >= kMaxProfiles)
            break;
        std::error_code ec2;
        if (it->is_directory(ec2))
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool IsFirefoxCacheFolder(const fs::path& folder) {
    return DirectoryExists(folder / "entries") &&
           (folder.filename() == "cache2" || FileExists(folder / "index"));
}

void BrowsersBelow(std::vector<TFoundCache>& found, const fs::path& cacheBase,
                   const fs::path& homeBase, const std::string& where) {
    for (const auto& [folder, name] : kChromiumFamily) {
        std::vector<fs::path> profiles = SubFolders(cacheBase / folder);
        // The default profile first.
        std::stable_partition(profiles.begin(), profiles.end(),
                              [](const fs::path& p) { return p.filename() == "Default"; });
        for (const auto& profile : profiles) {
            const fs::path data = profile / "Cache" / "Cache_Data";
            if (IsAnyChromiumCacheFolder(data))
                found.push_back(
                    {data, std::string(name) + ", profile " + profile.filename().string() + where,
                     TCacheKind::ckChromium});
        }
    }
    for (const fs::path& root : {cacheBase / "mozilla/firefox", homeBase / ".mozilla/firefox"}) {
        for (const auto& profile : SubFolders(root)) {
            const fs::path data = profile / "cache2";
            if (IsFirefoxCacheFolder(data))
                found.push_back({data, "Firefox, profile " + profile.filename().string() + where,
                                 TCacheKind::ckFirefox});
        }
    }
}

// A regular file itself, not a link to one.
bool RegularFileHere(const fs::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryHere(const fs::path& dir) {
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The kind of cache a folder met on a walk holds, judged without following
// links out of it.
std::optional<TCacheKind> CacheKindHere(const fs::path& folder) {
    if (RegularFileHere(folder / "index.dat"))
        return TCacheKind::ckIndexDat;
    if (IsAnyChromiumCacheFolder(folder)) // opens its index without following a link
        return TCacheKind::ckChromium;
    if (DirectoryHere(folder / "entries") &&
        (folder.filename() == "cache2" || RegularFileHere(folder / "index")))
        return TCacheKind::ckFirefox;
    return std::nullopt;
}

const char* KindPhrase(TCacheKind kind) {
    switch (kind) {
    case TCacheKind::ckChromium:
        return "a Chromium cache";
    case TCacheKind::ckFirefox:
        return "a Firefox cache";
    case TCacheKind::ckIndexDat:
        break;
    }
    return "an Internet Explorer cache";
}

// Every cache below top, of every kind, nearest first and in name order on
// each level: no more than kMaxSearchDepth levels down and kMaxSearchFolders
// folders, links never followed. Nothing below a cache is looked into.
void SearchBelow(std::vector<TFoundCache>& found, const fs::path& top, TCacheSearch& search) {
    std::deque<std::pair<fs::path, int>> queue{{top, 0}};
    std::size_t seen = 1; // folders looked into or queued
    while (!queue.empty()) {
        const auto [dir, depth] = std::move(queue.front());
        queue.pop_front();
        ++search.Folders;
        if (std::optional<TCacheKind> kind = CacheKindHere(dir)) {
            Add(found, dir, std::string(KindPhrase(*kind)) + " found below it", *kind);
            continue;
        }
        if (depth >= kMaxSearchDepth)
            continue;
        std::vector<fs::path> below;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            std::error_code entryError;
            // The entry's own type (d_type or lstat): a link is never a folder here.
            if (it->is_symlink(entryError) || !it->is_directory(entryError))
                continue;
            if (seen + below.size() >= kMaxSearchFolders) {
                search.Stopped = true;
                break;
            }
            below.push_back(it->path());
        }
        if (ec)
            ++search.Unreadable;
        std::sort(below.begin(), below.end());
        seen += below.size();
        for (auto& sub : below)
            queue.emplace_back(std::move(sub), depth + 1);
    }
}

// When a browser's cache was last written: the latest change of its folder
// (entries come and go) and of its index files.
fs::file_time_type LastWritten(const TFoundCache& cache) {
    fs::file_time_type latest = fs::file_time_type::min();
    for (const fs::path& p :
         {cache.Folder, cache.Folder / "index", cache.Folder / "index-dir" / "the-real-index",
          cache.Folder / "entries"}) {
        std::error_code ec;
        const fs::file_time_type t = fs::last_write_time(p, ec);
        if (!ec && t > latest)
            latest = t;
    }
    return latest;
}

// Browsers' caches, the most recently written first; caches written at the
// same moment keep their order.
void SortNewestFirst(std::vector<TFoundCache>& caches) {
    std::vector<std::pair<fs::file_time_type, TFoundCache>> dated;
    for (auto& c : caches)
        dated.emplace_back(LastWritten(c), std::move(c));
    std::stable_sort(dated.begin(), dated.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    caches.clear();
    for (auto& d : dated)
        caches.push_back(std::move(d.second));
}

// The location of a path the user named (--cache or $TARNHOLD_CACHE).
TCacheLocation NamedLocation(const fs::path& path, TCacheOrigin origin, const std::string& label,
                             const std::string& currentUser) {
    fs::path browserFolder;
    if (std::optional<TCacheKind> kind = DetectBrowserCache(path, &browserFolder)) {
        TCacheLocation where{browserFolder, origin, label, browserFolder != path, {}, {}};
        where.Kind = *kind;
        return where;
    }
    if (!DirectoryExists(path) || HoldsIndex(path))
        return {path, origin, label, false, {}, {}};
    TCacheSearch search;
    std::vector<TFoundCache> found = FindCachesBelow(path, currentUser, &search);
    if (found.empty()) {
        TCacheLocation none{{}, origin, label, true, {}, {}};
        none.Error =
            TError::Message(path.string() + ": " + DescribeFruitlessSearch(search), ENOENT);
        return none;
    }
    TCacheLocation where{
        found[0].Folder, origin, label + ", " + found[0].Description, true, {}, {}};
    where.Kind = found[0].Kind;
    where.Others.assign(found.begin() + 1, found.end());
    return where;
}

} // namespace

std::optional<TCacheKind> DetectBrowserCache(const fs::path& path, fs::path* folder) {
    if (!DirectoryExists(path))
        return std::nullopt;
    for (const fs::path& candidate : {path, path / "Cache_Data", path / "Cache" / "Cache_Data"}) {
        if (IsAnyChromiumCacheFolder(candidate)) {
            if (folder != nullptr)
                *folder = candidate;
            return TCacheKind::ckChromium;
        }
    }
    for (const fs::path& candidate : {path, path / "cache2"}) {
        if (IsFirefoxCacheFolder(candidate)) {
            if (folder != nullptr)
                *folder = candidate;
            return TCacheKind::ckFirefox;
        }
    }
    return std::nullopt;
}

std::vector<TFoundCache> FindBrowserCaches(const TGetEnv& getEnv) {
    std::vector<TFoundCache> found;
    const std::string home = Env(getEnv, "HOME");
    if (home.empty())
        return found;
    const fs::path h(home);
    BrowsersBelow(found, h / ".cache", h, "");
    for (const auto& snap : SubFolders(h / "snap"))
        BrowsersBelow(found, snap / "common/.cache", snap / "common",
                      " (snap " + snap.filename().string() + ")");
    for (const auto& app : SubFolders(h / ".var/app"))
        BrowsersBelow(found, app / "cache", app, " (flatpak " + app.filename().string() + ")");
    return found;
}

std::string DescribeFruitlessSearch(const TCacheSearch& search) {
    std::string text =
        "no cache found: looked for Internet Explorer's index.dat (also in the places of a "
        "profile, a drive and a Wine prefix), Chromium's and Firefox's caches in this folder "
        "and up to " +
        std::to_string(kMaxSearchDepth) + " levels below it (" + std::to_string(search.Folders) +
        (search.Folders == 1 ? " folder" : " folders") + " looked into, links not followed";
    if (search.Stopped)
        text += "; stopped after the first " + std::to_string(kMaxSearchFolders);
    if (search.Unreadable > 0)
        text += "; " + std::to_string(search.Unreadable) +
                (search.Unreadable == 1 ? " folder" : " folders") + " could not be read";
    return text + ")";
}

std::vector<TFoundCache> FindCachesBelow(const fs::path& folder, const std::string& currentUser,
                                         TCacheSearch* search) {
    std::vector<TFoundCache> found;
    TCacheSearch ignored;
    TCacheSearch& walk = search != nullptr ? *search : ignored;
    walk = {};
    if (!DirectoryExists(folder))
        return found;
    if (HoldsIndex(folder))
        Add(found, folder, "the folder named");
    if (HoldsIndex(folder / "Content.IE5"))
        Add(found, folder / "Content.IE5", "the folder above Content.IE5");
    FromProfile(found, folder, "a user's profile");
    const std::string none;
    FromProfiles(found, folder, currentUser, none);
    FromDrive(found, folder, currentUser, none);
    FromDrive(found, folder / "drive_c", currentUser, " in the Wine prefix " + folder.string());
    // None where caches are kept: one may lie deeper (a copied INetCache or
    // Local folder, a browser's profile).
    if (found.empty())
        SearchBelow(found, folder, walk);
    return found;
}

TCacheLocation LocateCache(const std::optional<fs::path>& option, const fs::path& demoCache,
                           const TGetEnv& getEnv) {
    const std::string user = Env(getEnv, "USER");
    if (option)
        return NamedLocation(*option, TCacheOrigin::coOption, "--cache", user);
    if (std::string env = Env(getEnv, "TARNHOLD_CACHE"); !env.empty())
        return NamedLocation(fs::path(env), TCacheOrigin::coEnvironment, "$TARNHOLD_CACHE", user);

    fs::path prefix;
    if (std::string wine = Env(getEnv, "WINEPREFIX"); !wine.empty()) {
        prefix = wine;
        if (!DirectoryExists(prefix)) {
            TCacheLocation bad{{}, TCacheOrigin::coWinePrefix, "$WINEPREFIX", false, {}, {}};
            bad.Error = TError::Message(
                "$WINEPREFIX names no folder: " + prefix.string() +
                    (fs::exists(prefix) ? " (not a folder)" : ": No such file or directory"),
                ENOENT);
            return bad;
        }
    } else if (std::string home = Env(getEnv, "HOME"); !home.empty()) {
        prefix = fs::path(home) / ".wine";
    }
    std::string note;
    if (!prefix.empty()) {
        std::vector<TFoundCache> found;
        FromDrive(found, prefix / "drive_c", user, "");
        if (!found.empty()) {
            TCacheLocation where{found[0].Folder,
                                 TCacheOrigin::coWinePrefix,
                                 "the Wine prefix " + prefix.string() + " (" +
                                     found[0].Description + ")",
                                 true,
                                 {},
                                 {}};
            where.Kind = found[0].Kind;
            where.Others.assign(found.begin() + 1, found.end());
            return where;
        }
        if (!Env(getEnv, "WINEPREFIX").empty())
            note = "; no cache in the Wine prefix " + prefix.string();
    }
    std::vector<TFoundCache> browsers = FindBrowserCaches(getEnv);
    if (!browsers.empty()) {
        SortNewestFirst(browsers);
        std::string description = browsers[0].Description;
        if (browsers.size() > 1)
            description += ", the newest of " + std::to_string(browsers.size()) + " browser caches";
        TCacheLocation where{
            browsers[0].Folder, TCacheOrigin::coBrowser, description + note, true, {}, {}};
        where.Kind = browsers[0].Kind;
        where.Others.assign(browsers.begin() + 1, browsers.end());
        return where;
    }
    if (demoCache.empty()) {
        TCacheLocation none{{}, TCacheOrigin::coDemo, "the demo cache", false, {}, {}};
        none.Error = TError::Message(
            "no cache found: none in a Wine prefix" + note +
                ", none of a browser, and no demo cache installed with the program; name one "
                "with --cache PATH or $TARNHOLD_CACHE",
            ENOENT);
        return none;
    }
    return {demoCache, TCacheOrigin::coDemo, "the demo cache" + note, false, {}, {}};
}

std::vector<TFoundCache> FindAllCaches(const fs::path& demoCache, const TGetEnv& getEnv) {
    std::vector<TFoundCache> all;
    auto take = [&all](std::vector<TFoundCache> found, const std::string& where) {
        for (auto& f : found) {
            std::error_code ec;
            fs::path real = fs::weakly_canonical(f.Folder, ec);
            bool seen = false;
            for (const auto& a : all) {
                std::error_code ec2;
                seen = seen || fs::weakly_canonical(a.Folder, ec2) == (ec ? f.Folder : real);
            }
            if (!seen)
                all.push_back(
                    {f.Folder,
                     where + (where.empty() || f.Description.empty() ? "" : ", ") + f.Description,
                     f.Kind});
        }
    };
    const std::string user = Env(getEnv, "USER");
    if (std::string env = Env(getEnv, "TARNHOLD_CACHE"); !env.empty()) {
        const fs::path path(env);
        fs::path browserFolder;
        if (std::optional<TCacheKind> kind = DetectBrowserCache(path, &browserFolder))
            take({{browserFolder, "", *kind}}, "$TARNHOLD_CACHE");
        else if (DirectoryExists(path) && !HoldsIndex(path))
            take(FindCachesBelow(path, user), "$TARNHOLD_CACHE");
        else if (FileExists(path) || HoldsIndex(path))
            take({{DirectoryExists(path) ? path : path.parent_path(), ""}}, "$TARNHOLD_CACHE");
    }
    auto prefixCaches = [&](const fs::path& prefix, const std::string& label) {
        std::vector<TFoundCache> found;
        FromDrive(found, prefix / "drive_c", user, "");
        take(std::move(found), label + " " + prefix.string());
    };
    if (std::string wine = Env(getEnv, "WINEPREFIX"); !wine.empty())
        prefixCaches(fs::path(wine), "$WINEPREFIX");
    if (std::string home = Env(getEnv, "HOME"); !home.empty()) {
        prefixCaches(fs::path(home) / ".wine", "the Wine prefix");
        const fs::path prefixes = fs::path(home) / ".local/share/wineprefixes";
        std::vector<fs::path> names;
        std::error_code ec;
        for (fs::directory_iterator it(prefixes, ec), end; !ec && it != end; it.increment(ec)) {
            if (names.size() >= kMaxProfiles)
                break;
            names.push_back(it->path());
        }
        std::sort(names.begin(), names.end());
        for (const auto& p : names)
            prefixCaches(p, "the Wine prefix");
    }
    std::vector<TFoundCache> browsers = FindBrowserCaches(getEnv);
    SortNewestFirst(browsers);
    take(std::move(browsers), "");
    if (!demoCache.empty() && HoldsIndex(demoCache))
        take({{demoCache, ""}}, "the demo cache");
    return all;
}

fs::path FindDemoCache(const fs::path& installed, const fs::path& built, fs::path program) {
    if (program.empty()) {
        std::error_code ec;
        program = fs::read_symlink("/proc/self/exe", ec);
    }
    if (!program.empty() && !installed.empty()) {
        const fs::path beside = (program.parent_path() / installed).lexically_normal();
        if (HoldsIndex(beside))
            return beside;
    }
    if (!built.empty() && HoldsIndex(built))
        return built;
    return {};
}

} // namespace tarnhold
