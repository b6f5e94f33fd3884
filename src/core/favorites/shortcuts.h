// The browser's own favorites: a folder tree of Internet shortcut (".url")
// files, each a profile file whose [InternetShortcut] section holds "URL".
// Read here for the import into the favorites store.
#pragma once

#include "favorites/favorites.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarnhold {

struct TShortcutEntry {
    std::string Caption; // folder name, or file name without ".url" (ANSI)
    std::filesystem::path Path;
    bool IsFolder = false;
    std::string Url; // the shortcut's URL; empty for folders and shortcuts without one
    // A favorite with this URL exists (ignoring case), or it was just
    // imported: it cannot be chosen.
    bool Registered = false;
    std::vector<TShortcutEntry> Children;
};

struct TShortcutFolder {
    // Folders first, then by caption ignoring case, at every level. Folders
    // holding no shortcut at any depth are left out.
    std::vector<TShortcutEntry> Items;
    // What could not be read: "path: reason", one per folder or file.
    std::vector<std::string> Problems;
};

// Reads the shortcuts below folder and marks those whose URL is a favorite
// of store already. Symbolic links to folders are not followed (they could
// loop); shortcut files must be regular files of at most 64 KiB.
TShortcutFolder ReadShortcutFolder(const std::filesystem::path& folder, const TFavorites& store);

// What every source of an import makes of its tree: folders without a
// shortcut at any depth removed, each level sorted (folders first, then by
// caption ignoring case), and shortcuts whose URL is a favorite of store
// marked registered.
void FinishShortcutTree(std::vector<TShortcutEntry>& entries, const TFavorites& store);

// Where Windows programs under Wine keep the Favorites folder: in the prefix
// $WINEPREFIX, then in ~/.wine, the folder Favorites of every profile
// (drive_c/users/<user>/, or drive_c/windows/profiles/<user>/ in older Wine).
// Only folders that exist, $WINEPREFIX's first.
std::vector<std::filesystem::path> DefaultShortcutFolders();

// Adds every chosen shortcut (chosen(entry) true) that has a URL and is not
// registered as a new favorite titled with its caption, and marks it
// registered. Visits folders before their contents. The store saves once, at
// the end. The number added; a failed save is put in error (the favorites
// stay in the store).
template <typename Chosen>
int ImportShortcuts(std::vector<TShortcutEntry>& entries, TFavorites& store, Chosen chosen,
                    TError* error = nullptr);

// Every shortcut (not folder) in tree order, for numbering.
std::vector<TShortcutEntry*> ListShortcuts(std::vector<TShortcutEntry>& entries);

template <typename Chosen>
int ImportShortcuts(std::vector<TShortcutEntry>& entries, TFavorites& store, Chosen chosen,
                    TError* error) {
    int count = 0;
    store.BeginUpdate();
    for (TShortcutEntry* entry : ListShortcuts(entries)) {
        if (entry->Url.empty() || entry->Registered || !chosen(*entry))
            continue;
        store.AddNew(entry->Caption, entry->Url);
        entry->Registered = true;
        ++count;
    }
    TError saveError = store.EndUpdate();
    if (saveError && error != nullptr)
        *error = std::move(saveError);
    return count;
}

} // namespace tarnhold
