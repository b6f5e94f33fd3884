#include "mainwindow/screensettings.h"

#include "platform/profile.h"

#include <string>

namespace tarnhold::gui {

std::string ListColumnKey(std::size_t index) {
    std::string key = "Col0";
    key += static_cast<char>('1' + index);
    return key;
}

TScreenSettings ReadScreenSettings(const std::filesystem::path& file) {
    const TProfileFile ini(file);
    TScreenSettings s;
    s.Top = ini.ReadInteger("General", "Top", 0);
    s.Left = ini.ReadInteger("General", "Left", 0);
    s.Width = ini.ReadInteger("General", "Width", 0);
    s.Height = ini.ReadInteger("General", "Height", 0);
    s.ToolBar = ini.ReadBool("General", "ToolBar", true);
    s.StatusBar = ini.ReadBool("General", "StatusBar", true);
    s.FavoriteSplit = ini.ReadOptionalInteger("General", "FavoriteSplit");
    s.CacheSplit = ini.ReadOptionalInteger("General", "CacheSplit");
    for (std::size_t i = 0; i < s.FavoriteColumns.size(); ++i)
        s.FavoriteColumns[i] = ini.ReadOptionalInteger("Favorites", ListColumnKey(i).c_str());
    s.FavoriteSortType = ini.ReadInteger("Favorites", "SortType", 0);
    s.FavoriteSortOrder = ini.ReadInteger("Favorites", "SortOrder", 0);
    for (std::size_t i = 0; i < s.CacheColumns.size(); ++i)
        s.CacheColumns[i] = ini.ReadOptionalInteger("Cache", ListColumnKey(i).c_str());
    s.CacheSortType = ini.ReadInteger("Cache", "SortType", 5);
    s.CacheSortOrder = ini.ReadInteger("Cache", "SortOrder", 0);
    s.AutoArrange = ini.ReadBool("Cache", "AutoArrange", false);
    s.ViewStyle = ini.ReadInteger("Cache", "ViewStyle", 3);
    s.Refresh = ini.ReadBool("Cache", "Refresh", true);
    s.EnableScheme = ini.ReadBool("Option", "EnableScheme", true);
    return s;
}

TError WriteScreenSettings(const std::filesystem::path& file, const TScreenSettings& s) {
    TProfileFile ini(file);
    if (ini.LoadError() != 0)
        return ini.LoadFailure(); // names the file and why ("not a regular file")
    ini.SetAutoUpdate(false);
    ini.WriteInteger("General", "Top", s.Top);
    ini.WriteInteger("General", "Left", s.Left);
    ini.WriteInteger("General", "Width", s.Width);
    ini.WriteInteger("General", "Height", s.Height);
    ini.WriteBool("General", "ToolBar", s.ToolBar);
    ini.WriteBool("General", "StatusBar", s.StatusBar);
    ini.WriteInteger("General", "FavoriteSplit", s.FavoriteSplit.value_or(0));
    ini.WriteInteger("General", "CacheSplit", s.CacheSplit.value_or(0));
    for (std::size_t i = 0; i < s.FavoriteColumns.size(); ++i)
        ini.WriteInteger("Favorites", ListColumnKey(i), s.FavoriteColumns[i].value_or(100));
    ini.WriteInteger("Favorites", "SortType", s.FavoriteSortType);
    ini.WriteInteger("Favorites", "SortOrder", s.FavoriteSortOrder);
    for (std::size_t i = 0; i < s.CacheColumns.size(); ++i)
        ini.WriteInteger("Cache", ListColumnKey(i), s.CacheColumns[i].value_or(100));
    ini.WriteInteger("Cache", "SortType", s.CacheSortType);
    ini.WriteInteger("Cache", "SortOrder", s.CacheSortOrder);
    ini.WriteBool("Cache", "AutoArrange", s.AutoArrange);
    ini.WriteInteger("Cache", "ViewStyle", s.ViewStyle);
    ini.WriteBool("Cache", "Refresh", s.Refresh);
    ini.WriteBool("Option", "EnableScheme", s.EnableScheme);
    int error = 0;
    if (!ini.UpdateFile(&error))
        return TError::FromErrno(error != 0 ? error : EIO, file.string());
    return {};
}

} // namespace tarnhold::gui
