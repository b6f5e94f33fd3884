#include "favorites/shortcuts.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_set>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

// A shortcut is a few lines; anything bigger is not one.
constexpr std::size_t kMaxShortcutSize = 64 * 1024;
// Folders nest at most this deep below the chosen one.
constexpr int kMaxDepth = 32;

std::string Problem(const fs::path& path, int error) {
    return PathToAnsi(path) + ": " + TError::FromErrno(error).Text();
}

// Reads a regular file of at most kMaxShortcutSize bytes; an errno on failure.
int ReadShortcutFile(const fs::path& path, std::string& out) {
    std::string head;
    // One byte more than allowed tells a file that is too large.
    TError error = ReadRegularFile(path, head, kMaxShortcutSize + 1);
    if (error)
        return error.Code();
    if (head.size() > kMaxShortcutSize)
        return EFBIG;
    out = std::move(head);
    return 0;
}

// A file or folder name as a caption: every character kept (references for
// what the code page lacks) when the name is UTF-8, its bytes otherwise.
std::string CaptionOf(const fs::path& name) {
    return IsValidUtf8(name.native()) ? Utf8ToAnsiRefs(name.native()) : PathToAnsi(name);
}

bool EntryLess(const TShortcutEntry& a, const TShortcutEntry& b) {
    if (a.IsFolder != b.IsFolder)
        return a.IsFolder;
    return AnsiCompareText(a.Caption, b.Caption) < 0;
}

struct TWalker {
    const std::unordered_set<std::string>& Registered; // lower-cased favorite URLs
    std::vector<std::string>& Problems;

    // The entries of one folder into out, sorted; subfolders without a
    // shortcut at any depth are left out.
    void Fill(const fs::path& folder, std::vector<TShortcutEntry>& out, int depth) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            Problems.push_back(Problem(folder, ec.value()));
            return;
        }
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::directory_entry& de = *it;
            std::error_code sec;
            const fs::file_status own = de.symlink_status(sec);
            if (sec)
                continue;
            const fs::path name = de.path().filename();
            if (fs::is_directory(own)) {
                if (depth >= kMaxDepth) {
                    Problems.push_back(Problem(de.path(), ELOOP));
                    continue;
                }
                TShortcutEntry entry;
                entry.Caption = CaptionOf(name);
                entry.Path = de.path();
                entry.IsFolder = true;
                Fill(de.path(), entry.Children, depth + 1);
                if (!entry.Children.empty())
                    out.push_back(std::move(entry));
                continue;
            }
            if (fs::is_symlink(own) && fs::is_directory(de.status(sec)))
                continue; // never followed: it could lead back up
            const std::string ansiName = CaptionOf(name);
            const std::size_t dot = ansiName.rfind('.');
            if (dot == std::string::npos || AnsiLowerCase(ansiName.substr(dot)) != ".url")
                continue;
            TShortcutEntry entry;
            entry.Caption = ansiName.substr(0, dot);
            entry.Path = de.path();
            std::string text;
            if (int error = ReadShortcutFile(de.path(), text); error != 0) {
                Problems.push_back(Problem(de.path(), error));
            } else {
                TProfileFile ini;
                ini.SetText(text);
                entry.Url = ini.ReadString("InternetShortcut", "URL", "");
                entry.Registered =
                    !entry.Url.empty() && Registered.count(AnsiLowerCase(entry.Url)) > 0;
            }
            out.push_back(std::move(entry));
        }
        if (ec)
            Problems.push_back(Problem(folder, ec.value()));
        std::sort(out.begin(), out.end(), EntryLess);
    }
};

void Collect(std::vector<TShortcutEntry>& entries, std::vector<TShortcutEntry*>& out) {
    for (auto& e : entries) {
        if (e.IsFolder)
            Collect(e.Children, out);
        else
            out.push_back(&e);
    }
}

} // namespace

TShortcutFolder ReadShortcutFolder(const fs::path& folder, const TFavorites& store) {
    std::unordered_set<std::string> registered;
    for (int i = 0; i < store.Count(); ++i)
        registered.insert(AnsiLowerCase(store.Items(i)->UrlName));
    TShortcutFolder result;
    TWalker walker{registered, result.Problems};
    walker.Fill(folder, result.Items, 0);
    return result;
}

namespace {

void Finish(std::vector<TShortcutEntry>& entries,
            const std::unordered_set<std::string>& registered) {
    for (TShortcutEntry& e : entries) {
        if (e.IsFolder)
            Finish(e.Children, registered);
        else
            e.Registered = !e.Url.empty() && registered.count(AnsiLowerCase(e.Url)) > 0;
    }
    std::erase_if(entries,
                  [](const TShortcutEntry& e) { return e.IsFolder && e.Children.empty(); });
    std::sort(entries.begin(), entries.end(), EntryLess);
}

} // namespace

void FinishShortcutTree(std::vector<TShortcutEntry>& entries, const TFavorites& store) {
    std::unordered_set<std::string> registered;
    for (int i = 0; i < store.Count(); ++i)
        registered.insert(AnsiLowerCase(store.Items(i)->UrlName));
    Finish(entries, registered);
}

std::vector<TShortcutEntry*> ListShortcuts(std::vector<TShortcutEntry>& entries) {
    std::vector<TShortcutEntry*> out;
    Collect(entries, out);
    return out;
}

std::vector<fs::path> DefaultShortcutFolders() {
    std::vector<fs::path> prefixes;
    if (const char* wine = std::getenv("WINEPREFIX"); wine != nullptr && *wine != '\0')
        prefixes.emplace_back(wine);
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        prefixes.push_back(fs::path(home) / ".wine");
    std::vector<fs::path> out;
    for (const fs::path& prefix : prefixes) {
        // Current Wine keeps the profiles in drive_c/users, older ones in
        // drive_c/windows/profiles.
        std::vector<fs::path> found;
        for (const fs::path& users :
             {prefix / "drive_c" / "users", prefix / "drive_c" / "windows" / "profiles"}) {
            std::error_code ec;
            for (fs::directory_iterator it(users, ec); !ec && it != fs::directory_iterator();
                 it.increment(ec)) {
                const fs::path favorites = it->path() / "Favorites";
                std::error_code sec;
                if (fs::is_directory(favorites, sec))
                    found.push_back(favorites);
            }
        }
        std::sort(found.begin(), found.end());
        for (const auto& f : found) {
            if (std::find(out.begin(), out.end(), f) == out.end())
                out.push_back(f);
        }
    }
    return out;
}

} // namespace tarnhold
