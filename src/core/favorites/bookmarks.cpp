#include "favorites/bookmarks.h"

#include "platform/appfolder.h"
#include "platform/browsers.h"
#include "platform/codepage.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

// A Bookmarks file of tens of thousands of bookmarks is a few MiB.
constexpr std::size_t kMaxBookmarksJson = 64 * 1024 * 1024;
// places.sqlite holds the history too; large ones reach a few hundred MiB.
constexpr std::uint64_t kMaxPlaces = 1024ull * 1024 * 1024;
// Bookmark folders nest at most this deep.
constexpr int kMaxDepth = 64;
// A name longer than this is cut: a caption, not a document.
constexpr std::size_t kMaxNameBytes = 1024;
// Profiles looked into per browser.
constexpr std::size_t kMaxProfiles = 256;

std::string Problem(const fs::path& path, const std::string& why) {
    return PathToAnsi(path) + ": " + Utf8ToAnsi(why);
}

// A bookmark's or folder's name (UTF-8) as a caption: one line, bounded.
std::string NameToAnsi(std::string_view utf8) {
    std::string line;
    for (std::size_t i = 0; i < utf8.size() && line.size() < kMaxNameBytes;) {
        const std::size_t n = Utf8SequenceLength(utf8, i);
        if (n == 0) {
            line.push_back('?');
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(utf8[i]);
        // Line breaks and other controls would break the row that shows it.
        line.append(c < 0x20 || c == 0x7F ? std::string_view(" ") : utf8.substr(i, n));
        i += n;
    }
    return Utf8ToAnsiRefs(line);
}

std::vector<fs::path> SubFolders(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code sec;
        if (it->is_symlink(sec) || !it->is_directory(sec))
            continue;
        out.push_back(it->path());
        if (out.size() >= kMaxProfiles)
            break;
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool RegularFileHere(const fs::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Env(const std::function<const char*(const char*)>& getEnv, const char* name) {
    const char* value = getEnv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// ---------------------------------------------------------------------------
// Chromium

TShortcutEntry FolderEntry(std::string caption, const fs::path& file) {
    TShortcutEntry folder;
    folder.Caption = std::move(caption);
    folder.Path = file;
    folder.IsFolder = true;
    return folder;
}

void ReadJsonChildren(const nlohmann::json& children, const fs::path& file,
                      std::vector<TShortcutEntry>& out, int depth, bool& tooDeep) {
    if (!children.is_array())
        return;
    for (const nlohmann::json& node : children) {
        if (!node.is_object())
            continue;
        const auto type = node.find("type");
        const auto name = node.find("name");
        const std::string caption = name != node.end() && name->is_string()
                                        ? NameToAnsi(name->get_ref<const std::string&>())
                                        : std::string();
        if (type == node.end() || !type->is_string())
            continue;
        if (*type == "url") {
            const auto url = node.find("url");
            if (url == node.end() || !url->is_string())
                continue;
            TShortcutEntry entry;
            entry.Caption = caption;
            entry.Path = file;
            entry.Url = BookmarkUrlToAnsi(url->get_ref<const std::string&>());
            out.push_back(std::move(entry));
        } else if (*type == "folder") {
            if (depth >= kMaxDepth) {
                tooDeep = true;
                continue;
            }
            TShortcutEntry folder = FolderEntry(caption, file);
            if (const auto sub = node.find("children"); sub != node.end())
                ReadJsonChildren(*sub, file, folder.Children, depth + 1, tooDeep);
            out.push_back(std::move(folder));
        }
    }
}

// ---------------------------------------------------------------------------
// Firefox

// Copies a regular file of at most kMaxPlaces bytes (no link, no device, no
// FIFO) to to; an errno value on failure.
int CopyPrivately(const fs::path& from, const fs::path& to) {
    TFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.Valid())
        return errno;
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxPlaces)
        return EFBIG;
    TFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out.Valid())
        return errno;
    std::string buffer(1 << 20, '\0');
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t n = ReadAt(in.Get(), buffer.data(), buffer.size(), kAtPosition);
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        copied += static_cast<std::uint64_t>(n);
        // A file that grows while it is copied is cut at the limit.
        if (copied > kMaxPlaces)
            return EFBIG;
        if (!WriteAllToFd(out.Get(), std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return errno;
    }
    return out.Close();
}

class TSqlite {
public:
    ~TSqlite() {
        if (db_ != nullptr)
            sqlite3_close_v2(db_);
    }
    std::string Open(const fs::path& file) {
        // The private copy is opened for writing, so that SQLite can take
        // in the write-ahead log that was copied beside it.
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            return db_ != nullptr ? sqlite3_errmsg(db_) : "the database cannot be opened";
        // Nothing the file says is run.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
        return {};
    }
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

struct TPlace {
    int Type = 0; // 1 bookmark, 2 folder, 3 separator
    std::int64_t Parent = 0;
    std::string Title; // UTF-8
    std::string Guid;
    std::string Url; // UTF-8
};

std::string ColumnText(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text != nullptr
               ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
               : std::string();
}

// The names Firefox shows for its top folders, whose stored titles are
// short keys ("menu", "toolbar") or empty.
const char* RootName(std::string_view guid) {
    if (guid == "menu________")
        return "Bookmarks Menu";
    if (guid == "toolbar_____")
        return "Bookmarks Toolbar";
    if (guid == "unfiled_____")
        return "Other Bookmarks";
    if (guid == "mobile______")
        return "Mobile Bookmarks";
    return nullptr;
}

struct TPlacesTree {
    std::map<std::int64_t, TPlace> Places;
    std::multimap<std::int64_t, std::int64_t> Children; // parent -> child, in position order
    const fs::path& File;
    bool TooDeep = false;

    void Fill(std::int64_t parent, std::vector<TShortcutEntry>& out, int depth,
              std::set<std::int64_t>& seen) {
        const auto [first, last] = Children.equal_range(parent);
        for (auto it = first; it != last; ++it) {
            const std::int64_t id = it->second;
            // A damaged file may make a folder its own ancestor.
            if (!seen.insert(id).second)
                continue;
            const TPlace& place = Places.at(id);
            if (place.Type == 1) {
                // "place:" URLs are Firefox's saved searches, no pages.
                if (place.Url.empty() || place.Url.rfind("place:", 0) == 0)
                    continue;
                TShortcutEntry entry;
                entry.Caption = NameToAnsi(place.Title);
                entry.Path = File;
                entry.Url = BookmarkUrlToAnsi(place.Url);
                out.push_back(std::move(entry));
            } else if (place.Type == 2) {
                // Tags are another view of the same bookmarks.
                if (place.Guid == "tags________")
                    continue;
                if (depth >= kMaxDepth) {
                    TooDeep = true;
                    continue;
                }
                const char* root = depth == 0 ? RootName(place.Guid) : nullptr;
                TShortcutEntry folder = FolderEntry(
                    root != nullptr ? std::string(root) : NameToAnsi(place.Title), File);
                Fill(id, folder.Children, depth + 1, seen);
                out.push_back(std::move(folder));
            }
        }
    }
};

std::string ReadPlaces(const fs::path& copy, const fs::path& original, TShortcutFolder& result) {
    TSqlite db;
    if (std::string why = db.Open(copy); !why.empty())
        return why;
    sqlite3_stmt* raw = nullptr;
    const char* sql = "SELECT b.id, b.type, b.parent, b.title, b.guid, p.url FROM moz_bookmarks b "
                      "LEFT JOIN moz_places p ON b.fk = p.id ORDER BY b.parent, b.position, b.id";
    if (sqlite3_prepare_v2(db.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
        return std::string("no Firefox bookmarks: ") + sqlite3_errmsg(db.get());
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, sqlite3_finalize);
    TPlacesTree tree{{}, {}, original};
    std::int64_t root = -1;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(stmt.get(), 0);
        TPlace place;
        place.Type = sqlite3_column_int(stmt.get(), 1);
        place.Parent = sqlite3_column_int64(stmt.get(), 2);
        place.Title = ColumnText(stmt.get(), 3);
        place.Guid = ColumnText(stmt.get(), 4);
        place.Url = ColumnText(stmt.get(), 5);
        if (place.Guid == "root________")
            root = id;
        tree.Children.emplace(place.Parent, id);
        tree.Places.emplace(id, std::move(place));
    }
    if (rc != SQLITE_DONE)
        return std::string("the bookmarks cannot be read whole: ") + sqlite3_errmsg(db.get());
    if (root < 0)
        return "no root folder of bookmarks";
    std::set<std::int64_t> seen{root};
    tree.Fill(root, result.Items, 0, seen);
    if (tree.TooDeep)
        result.Problems.push_back(Problem(original, "folders nested too deep are left out"));
    return {};
}

} // namespace

std::string BookmarkUrlToAnsi(std::string_view url) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c >= 0x7F) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

std::string DescribeImportSource(const TImportSource& source) {
    std::string text;
    switch (source.Kind) {
    case TImportKind::Shortcuts:
        text = "Internet shortcuts";
        if (!source.Profile.empty())
            text += " of user " + source.Profile;
        break;
    case TImportKind::Chromium:
    case TImportKind::Firefox:
        text = source.Browser + " bookmarks";
        if (!source.Profile.empty())
            text += ", profile " + source.Profile;
        break;
    }
    return text + " (" + source.Path.string() + ")";
}

TShortcutFolder ReadChromiumBookmarks(const fs::path& file, const TFavorites& store) {
    TShortcutFolder result;
    std::string text;
    if (TError error = ReadRegularFile(file, text, kMaxBookmarksJson + 1)) {
        result.Problems.push_back(PathToAnsi(file) + ": " + Utf8ToAnsi(error.Text()));
        return result;
    }
    if (text.size() > kMaxBookmarksJson) {
        result.Problems.push_back(Problem(file, TError::FromErrno(EFBIG).Text()));
        return result;
    }
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    text.clear();
    const auto roots = json.is_object() ? json.find("roots") : json.end();
    if (json.is_discarded() || !json.is_object() || roots == json.end() || !roots->is_object()) {
        result.Problems.push_back(Problem(file, "no Chromium bookmarks (not their JSON)"));
        return result;
    }
    bool tooDeep = false;
    // The bar, the other bookmarks and the phone's, as Chromium shows them.
    for (const char* key : {"bookmark_bar", "other", "synced"}) {
        const auto root = roots->find(key);
        if (root == roots->end() || !root->is_object())
            continue;
        const auto name = root->find("name");
        TShortcutEntry folder = FolderEntry(name != root->end() && name->is_string()
                                                ? NameToAnsi(name->get_ref<const std::string&>())
                                                : std::string(key),
                                            file);
        if (const auto children = root->find("children"); children != root->end())
            ReadJsonChildren(*children, file, folder.Children, 1, tooDeep);
        result.Items.push_back(std::move(folder));
    }
    if (tooDeep)
        result.Problems.push_back(Problem(file, "folders nested too deep are left out"));
    FinishShortcutTree(result.Items, store);
    return result;
}

TShortcutFolder ReadFirefoxBookmarks(const fs::path& file, const TFavorites& store) {
    TShortcutFolder result;
    TError error;
    const fs::path temp = CreateTempFolder(&error);
    if (temp.empty()) {
        result.Problems.push_back(PathToAnsi(file) + ": " + Utf8ToAnsi(error.Text()));
        return result;
    }
    // Firefox keeps the file open and locked while it runs, with its latest
    // changes in the write-ahead log beside it: both are copied, and the
    // copy is read.
    const fs::path copy = temp / "places.sqlite";
    std::string why;
    if (int code = CopyPrivately(file, copy); code != 0) {
        why = TError::FromErrno(code).Text();
    } else {
        const fs::path wal = file.string() + "-wal";
        if (RegularFileHere(wal)) {
            if (int walCode = CopyPrivately(wal, copy.string() + "-wal"); walCode != 0)
                result.Problems.push_back(Problem(wal, TError::FromErrno(walCode).Text() +
                                                           " (the latest changes are left out)"));
        }
        why = ReadPlaces(copy, file, result);
    }
    DeleteFolder(temp);
    if (!why.empty())
        result.Problems.push_back(Problem(file, why));
    FinishShortcutTree(result.Items, store);
    return result;
}

TShortcutFolder ReadImportSource(const TImportSource& source, const TFavorites& store) {
    switch (source.Kind) {
    case TImportKind::Chromium:
        return ReadChromiumBookmarks(source.Path, store);
    case TImportKind::Firefox:
        return ReadFirefoxBookmarks(source.Path, store);
    case TImportKind::Shortcuts:
        break;
    }
    return ReadShortcutFolder(source.Path, store);
}

std::vector<TImportSource>
FindBookmarkFiles(const std::function<const char*(const char*)>& getEnv) {
    std::vector<TImportSource> found;
    const std::string home = Env(getEnv, "HOME");
    if (home.empty())
        return found;
    const fs::path h(home);
    // ~/.config and ~/.mozilla, as installed, as a snap and as a flatpak.
    std::vector<std::pair<fs::path, fs::path>> bases{{h / ".config", h}};
    for (const fs::path& snap : SubFolders(h / "snap"))
        bases.emplace_back(snap / "current/.config", snap / "current");
    for (const fs::path& app : SubFolders(h / ".var/app"))
        bases.emplace_back(app / "config", app);
    for (const auto& [config, mozillaHome] : bases) {
        for (const auto& [folder, name] : kChromiumFamily) {
            std::vector<fs::path> profiles = SubFolders(config / folder);
            std::stable_partition(profiles.begin(), profiles.end(),
                                  [](const fs::path& p) { return p.filename() == "Default"; });
            for (const fs::path& profile : profiles) {
                if (RegularFileHere(profile / "Bookmarks"))
                    found.push_back({TImportKind::Chromium, profile / "Bookmarks", name,
                                     profile.filename().string()});
            }
        }
        for (const fs::path& profile : SubFolders(mozillaHome / ".mozilla/firefox")) {
            if (RegularFileHere(profile / "places.sqlite"))
                found.push_back({TImportKind::Firefox, profile / "places.sqlite", "Firefox",
                                 profile.filename().string()});
        }
    }
    return found;
}

std::vector<TImportSource> FindWindowsDiskFavorites(const std::vector<fs::path>& mounts) {
    std::vector<TImportSource> found;
    for (const fs::path& mount : mounts) {
        for (const fs::path& disk : SubFolders(mount)) {
            for (const fs::path& user : SubFolders(disk / "Users")) {
                const fs::path favorites = user / "Favorites";
                std::error_code ec;
                if (fs::is_directory(fs::symlink_status(favorites, ec)))
                    found.push_back(
                        {TImportKind::Shortcuts, favorites, {}, user.filename().string()});
            }
        }
    }
    return found;
}

std::vector<TImportSource>
FindImportSources(const std::function<const char*(const char*)>& getEnv) {
    std::vector<TImportSource> found;
    for (const fs::path& folder : DefaultShortcutFolders())
        found.push_back(
            {TImportKind::Shortcuts, folder, {}, folder.parent_path().filename().string()});
    std::vector<fs::path> mounts{"/mnt", "/media"};
    if (const std::string user = Env(getEnv, "USER"); !user.empty()) {
        mounts.push_back(fs::path("/media") / user);
        mounts.push_back(fs::path("/run/media") / user);
    }
    for (TImportSource& disk : FindWindowsDiskFavorites(mounts))
        found.push_back(std::move(disk));
    for (TImportSource& file : FindBookmarkFiles(getEnv))
        found.push_back(std::move(file));
    return found;
}

std::optional<TImportSource> ImportSourceAt(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec)
        return std::nullopt;
    if (fs::is_directory(status)) {
        if (RegularFileHere(path / "Bookmarks"))
            return TImportSource{TImportKind::Chromium, path / "Bookmarks", "Chromium",
                                 path.filename().string()};
        if (RegularFileHere(path / "places.sqlite"))
            return TImportSource{TImportKind::Firefox, path / "places.sqlite", "Firefox",
                                 path.filename().string()};
        return TImportSource{TImportKind::Shortcuts, path, {}, {}};
    }
    if (!fs::is_regular_file(status))
        return std::nullopt;
    // Told apart by their first bytes: SQLite's header, or JSON's brace.
    std::string head;
    if (ReadRegularFile(path, head, 16))
        return std::nullopt;
    const std::string profile = path.parent_path().filename().string();
    if (head.rfind("SQLite format 3", 0) == 0)
        return TImportSource{TImportKind::Firefox, path, "Firefox", profile};
    const std::size_t first = head.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && head[first] == '{')
        return TImportSource{TImportKind::Chromium, path, "Chromium", profile};
    return std::nullopt;
}

} // namespace tarnhold
