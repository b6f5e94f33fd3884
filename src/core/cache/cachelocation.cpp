#include "cache/cachelocation.h"

#include "cache/chromiumcache.h"
#include "platform/files.h"

#include <algorithm>
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

void Add(std::vector<TFoundCache>& found, const fs::path& folder, std::string description) {
    for (const auto& f : found) {
        if (f.Folder == folder)
            return;
    }
    found.push_back({folder, std::move(description)});
}

void FromProfile(std::vector<TFoundCache>& found, const fs::path& profile,
                 const std::string& description) {
    for (const char* sub : kProfileCacheFolders) {
        if (HoldsIndex(profile / sub))
            Add(found, profile / sub, description);
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

// The folders below ~/.cache (or a snap's or flatpak's copy of it) where the
// browsers built on Chromium keep their profiles' caches, and their names.
const std::pair<const char*, const char*> kChromiumFamily[] = {
    {"chromium", "Chromium"},
    {"chromium-browser", "Chromium"},
    {"google-chrome", "Google Chrome"},
    {"google-chrome-beta", "Google Chrome beta"},
    {"google-chrome-unstable", "Google Chrome unstable"},
    {"BraveSoftware/Brave-Browser", "Brave"},
    {"microsoft-edge", "Microsoft Edge"},
    {"microsoft-edge-beta", "Microsoft Edge beta"},
    {"microsoft-edge-dev", "Microsoft Edge dev"},
    {"vivaldi", "Vivaldi"},
    {"opera", "Opera"},
};

void BrowsersBelow(std::vector<TFoundCache>& found, const fs::path& cacheBase,
                   const fs::path& homeBase, const std::string& where) {
    for (const auto& [folder, name] : kChromiumFamily) {
        std::vector<fs::path> profiles = SubFolders(cacheBase / folder);
        // The default profile first.
        std::stable_partition(profiles.begin(), profiles.end(),
                              [](const fs::path& p) { return p.filename() == "Default"; });
        for (const auto& profile : profiles) {
            const fs::path data = profile / "Cache" / "Cache_Data";
            if (IsChromiumCacheFolder(data))
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
    std::vector<TFoundCache> found = FindCachesBelow(path, currentUser);
    if (found.empty()) {
        TCacheLocation none{{}, origin, label, true, {}, {}};
        none.Error =
            TError::Message(path.string() + ": no Internet Explorer cache (Content.IE5/index.dat) "
                                            "found in this folder or below it",
                            ENOENT);
        return none;
    }
    TCacheLocation where{
        found[0].Folder, origin, label + ", " + found[0].Description, true, {}, {}};
    where.Others.assign(found.begin() + 1, found.end());
    return where;
}

} // namespace

const char* CacheKindName(TCacheKind kind) {
    switch (kind) {
    case TCacheKind::ckChromium:
        return "chromium";
    case TCacheKind::ckFirefox:
        return "firefox";
    case TCacheKind::ckIndexDat:
        break;
    }
    return "index.dat";
}

std::optional<TCacheKind> DetectBrowserCache(const fs::path& path, fs::path* folder) {
    if (!DirectoryExists(path))
        return std::nullopt;
    for (const fs::path& candidate : {path, path / "Cache_Data", path / "Cache" / "Cache_Data"}) {
        if (IsChromiumCacheFolder(candidate)) {
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

std::vector<TFoundCache> FindCachesBelow(const fs::path& folder, const std::string& currentUser) {
    std::vector<TFoundCache> found;
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
    std::string demoNote;
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
            where.Others.assign(found.begin() + 1, found.end());
            return where;
        }
        if (!Env(getEnv, "WINEPREFIX").empty())
            demoNote = "; no cache in the Wine prefix " + prefix.string();
    }
    return {demoCache, TCacheOrigin::coDemo, "the demo cache" + demoNote, false, {}, {}};
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
    if (HoldsIndex(demoCache))
        take({{demoCache, ""}}, "the demo cache");
    take(FindBrowserCaches(getEnv), "");
    return all;
}

} // namespace tarnhold
