#include "mainwindow/filetypeinfo.h"

#include "app/qtconvert.h"
#include "platform/codepage.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStyle>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarnhold::gui {

namespace {

// " ﾌｧｲﾙ" in Shift-JIS (half-width katakana): what a type the desktop does
// not describe is called after its extension.
constexpr std::string_view kFileSuffix = " \xcc\xa7\xb2\xd9";

// Without a desktop session (a bare X server, the offscreen platform) Qt
// knows no icon theme; an installed one is taken then, so icons look as the
// desktop's do. Asked once, before the first icon.
void EnsureIconTheme() {
    static const bool done = [] {
        if (!QIcon::themeName().isEmpty())
            return true;
        // Without a platform theme the search path may not even hold the
        // system's icon folders.
        QStringList paths = QIcon::themeSearchPaths();
        const QStringList system =
            QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                      QStandardPaths::LocateDirectory);
        for (const QString& path : system) {
            if (!paths.contains(path))
                paths.append(path);
        }
        QIcon::setThemeSearchPaths(paths);
        for (const char* name : {"Adwaita", "breeze", "oxygen", "gnome", "Tango"}) {
            for (const QString& path : paths) {
                if (QFileInfo::exists(path + QLatin1Char('/') + QLatin1String(name) +
                                      QStringLiteral("/index.theme"))) {
                    QIcon::setThemeName(QLatin1String(name));
                    return true;
                }
            }
        }
        return false;
    }();
    (void)done;
}

QIcon StandardIcon(QStyle::StandardPixmap which) {
    return QApplication::style()->standardIcon(which);
}

// The comment of a type in Japanese, or empty when the MIME data has none
// (the comment then is the same in any language). QMimeType reads the
// comment for the default locale, so that is switched for the question.
QString JapaneseComment(const QMimeType& type) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    const QString japanese = type.comment();
    QLocale::setDefault(QLocale::c());
    const QString other = type.comment();
    QLocale::setDefault(saved);
    if (japanese == other || japanese == type.name())
        return {};
    return japanese;
}

QIcon IconOf(const QMimeType& type) {
    EnsureIconTheme();
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = GenericFileIcon();
    return icon;
}

std::string MadeUpTypeName(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    if (extension.empty())
        return std::string(kFileSuffix.substr(1));
    return AnsiUpperCase(extension) + std::string(kFileSuffix);
}

} // namespace

std::string_view TypeExtension(std::string_view name) {
    const std::size_t dot = AnsiFindLast(name, ".");
    if (dot == std::string_view::npos)
        return {};
    if (AnsiFindFirstOf(name, "\\/:", dot) != std::string_view::npos)
        return {};
    return name.substr(dot);
}

TFileTypeInfo GetFileTypeInfoByExt(std::string_view name) {
    static const QMimeDatabase db;
    const std::string_view extension = TypeExtension(name);
    TFileTypeInfo info;
    info.Found = true;
    QMimeType type = db.mimeTypeForFile(QStringLiteral("x") + ToQString(extension),
                                        QMimeDatabase::MatchExtension);
    if (type.isDefault()) {
        // The extension says nothing; the whole name may (README, Makefile).
        const std::size_t slash = AnsiFindLast(name, "/");
        const std::string_view fileName =
            slash == std::string_view::npos ? name : name.substr(slash + 1);
        QMimeType byName = db.mimeTypeForFile(ToQString(fileName), QMimeDatabase::MatchExtension);
        if (!byName.isDefault()) {
            type = byName;
            info.PerFile = true;
        }
    }
    if (type.isDefault()) {
        info.Icon = GenericFileIcon();
    } else {
        info.Icon = IconOf(type);
        info.TypeName = ToAnsi(JapaneseComment(type));
    }
    if (info.TypeName.empty())
        info.TypeName = MadeUpTypeName(extension);
    return info;
}

TFileTypeInfo GetFileTypeInfo(const QString& path) {
    static const QMimeDatabase db;
    std::error_code error;
    // Only a regular file is opened to look at its content: a FIFO or device
    // would block or never end.
    const bool regular = std::filesystem::is_regular_file(ToPath(path), error);
    const QMimeType type = db.mimeTypeForFile(path, regular ? QMimeDatabase::MatchDefault
                                                            : QMimeDatabase::MatchExtension);
    TFileTypeInfo info;
    info.Found = true;
    info.Icon = type.isDefault() ? GenericFileIcon() : IconOf(type);
    if (!type.isDefault())
        info.TypeName = ToAnsi(JapaneseComment(type));
    return info;
}

TFileTypeInfo GetFolderTypeInfo(bool open) {
    static const QMimeDatabase db;
    EnsureIconTheme();
    TFileTypeInfo info;
    info.Found = true;
    if (open)
        info.Icon =
            QIcon::fromTheme(QStringLiteral("folder-open"), StandardIcon(QStyle::SP_DirOpenIcon));
    else
        info.Icon =
            QIcon::fromTheme(QStringLiteral("folder"), StandardIcon(QStyle::SP_DirClosedIcon));
    info.TypeName = ToAnsi(JapaneseComment(db.mimeTypeForName(QStringLiteral("inode/directory"))));
    if (info.TypeName.empty())
        info.TypeName = ToAnsi(QStringLiteral("ファイル フォルダー"));
    return info;
}

QIcon BrowserIcon() {
    EnsureIconTheme();
    return QIcon::fromTheme(QStringLiteral("web-browser"), StandardIcon(QStyle::SP_DriveNetIcon));
}

QIcon GenericFileIcon() {
    EnsureIconTheme();
    return QIcon::fromTheme(QStringLiteral("text-x-generic"), StandardIcon(QStyle::SP_FileIcon));
}

TTypeCache::TTypeCache() {
    icons_.push_back(GenericFileIcon());
}

const QIcon& TTypeCache::Icon(int index) const {
    if (index < 0 || index >= static_cast<int>(icons_.size()))
        return icons_.front();
    return icons_[static_cast<std::size_t>(index)];
}

TTypeCache::TAnswer TTypeCache::TypeAndIcon(std::string_view name, std::string_view localFile) {
    const std::string_view extension = TypeExtension(name);
    auto first = std::lower_bound(entries_.begin(), entries_.end(), extension,
                                  [](const TEntry& e, std::string_view ext) {
                                      return AnsiCompareText(e.Extension, ext) < 0;
                                  });
    const bool found = first != entries_.end() && AnsiSameText(first->Extension, extension);
    const TEntry* answer = nullptr;
    if (found && !first->PerFile) {
        answer = &*first;
    } else if (found) {
        // Answers that hold per file name are kept per cached file.
        for (auto it = first; it != entries_.end() && AnsiSameText(it->Extension, extension);
             ++it) {
            if (AnsiSameText(it->LocalFile, localFile)) {
                answer = &*it;
                break;
            }
        }
    }
    if (answer && !answer->TypeName.empty())
        return {answer->TypeName, answer->ImageIndex};

    TFileTypeInfo info = GetFileTypeInfoByExt(name);
    TEntry entry;
    entry.Extension = std::string(extension);
    entry.TypeName = info.TypeName;
    entry.PerFile = info.PerFile;
    if (info.PerFile)
        entry.LocalFile = std::string(localFile);
    if (info.Found && !info.Icon.isNull()) {
        entry.ImageIndex = static_cast<int>(icons_.size());
        icons_.push_back(info.Icon);
    }
    TAnswer result{entry.TypeName, entry.ImageIndex};
    entries_.insert(first, std::move(entry));
    return result;
}

} // namespace tarnhold::gui
