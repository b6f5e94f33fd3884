// Type names and icons of files and folders as the desktop shows them: names
// from the shared MIME database (its Japanese comments), icons from the icon
// theme with Qt's own standard icons where the theme has none, so that an
// icon is never empty. Where Qt knows no icon theme (no desktop session),
// the first icon lookup picks an installed one (Adwaita, Breeze, ...).
//
// The window and its views call:
//   GetFileTypeInfoByExt(name)   type name and icon for a cache file's name
//   GetFileTypeInfo(path)        the same for a file on disk (property dialog)
//   GetFolderTypeInfo(open)      folder icon and the folder type name
//   BrowserIcon()                the icon of the tree's root item
//   TTypeCache                   the list views' lookup: one question per extension
#pragma once

#include <QIcon>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold::gui {

struct TFileTypeInfo {
    bool Found = false;   // an icon was obtained (always, given the fall-backs)
    bool PerFile = false; // the answer holds for this file name, not its extension
    QIcon Icon;           // one QIcon serves the small and the large size
    std::string TypeName; // ANSI text; the list sorts by it
};

// The extension of an ANSI name as the type lookup takes it: from the last
// '.' after the last '\', '/' or ':', dot included; empty if none.
std::string_view TypeExtension(std::string_view name);

// The type of files with the extension of name (ANSI text). When the
// extension says nothing (the generic type), the whole name is asked as well
// (some names, "Makefile" say, have a type of their own: PerFile is then
// set). Without a Japanese type name, the name is made from the extension:
// without its dot, upper case, followed by " ﾌｧｲﾙ" ("XYZ ﾌｧｲﾙ"; "ﾌｧｲﾙ"
// alone for a name without extension). Reads no file.
TFileTypeInfo GetFileTypeInfoByExt(std::string_view name);
// The type of the file at path, looked at on disk when it is a regular file
// (its name alone otherwise); the type name may be empty.
TFileTypeInfo GetFileTypeInfo(const QString& path);
// The folder icon (closed or open) and the folder type name.
TFileTypeInfo GetFolderTypeInfo(bool open);
// The desktop's web browser icon.
QIcon BrowserIcon();
// The generic document icon: the icon of a file whose type gave none.
QIcon GenericFileIcon();

// Type names and icons by extension, each extension asked once; an answer
// that holds only per file name is kept for that local file. Icons go into
// an image list (Icons()), index 0 being the generic document icon.
class TTypeCache {
public:
    TTypeCache();

    struct TAnswer {
        std::string TypeName; // ANSI
        int ImageIndex = 0;
    };
    // The type name and image of a file called name (ANSI) whose cached copy
    // is localFile.
    TAnswer TypeAndIcon(std::string_view name, std::string_view localFile);

    const std::vector<QIcon>& Icons() const { return icons_; }
    const QIcon& Icon(int index) const;
    int Count() const { return static_cast<int>(entries_.size()); }

private:
    struct TEntry {
        std::string Extension; // with its dot
        std::string TypeName;
        bool PerFile = false;
        int ImageIndex = 0;
        std::string LocalFile; // PerFile only
    };
    std::vector<TEntry> entries_; // by Extension ignoring case
    std::vector<QIcon> icons_;
};

} // namespace tarnhold::gui
