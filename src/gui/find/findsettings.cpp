#include "find/findsettings.h"

#include "mainwindow/screensettings.h"
#include "platform/profile.h"

#include <cerrno>
#include <string>

namespace tarnhold::gui {

TFindSettings ReadFindSettings(const std::filesystem::path& file) {
    const TProfileFile ini(file);
    TFindSettings s;
    s.Width = ini.ReadInteger("General", "Width", 581);
    s.IgnoreCase = ini.ReadBool("General", "IgnoreCase", false);
    for (std::size_t i = 0; i < s.Columns.size(); ++i)
        s.Columns[i] = ini.ReadOptionalInteger("List", ListColumnKey(i));
    s.SortType = ini.ReadInteger("List", "SortType", 5);
    s.SortOrder = ini.ReadInteger("List", "SortOrder", 0);
    s.AutoArrange = ini.ReadBool("List", "AutoArrange", false);
    s.ViewStyle = ini.ReadInteger("List", "ViewStyle", 3);
    return s;
}

TError WriteFindSettings(const std::filesystem::path& file, const TFindSettings& s) {
    TProfileFile ini(file);
    if (ini.LoadError() != 0)
        return ini.LoadFailure();
    ini.SetAutoUpdate(false);
    ini.WriteInteger("General", "Width", s.Width);
    ini.WriteBool("General", "IgnoreCase", s.IgnoreCase);
    for (std::size_t i = 0; i < s.Columns.size(); ++i)
        ini.WriteInteger("List", ListColumnKey(i), s.Columns[i].value_or(100));
    ini.WriteInteger("List", "SortType", s.SortType);
    ini.WriteInteger("List", "SortOrder", s.SortOrder);
    ini.WriteBool("List", "AutoArrange", s.AutoArrange);
    ini.WriteInteger("List", "ViewStyle", s.ViewStyle);
    int error = 0;
    if (!ini.UpdateFile(&error))
        return TError::FromErrno(error != 0 ? error : EIO, file.string());
    return {};
}

} // namespace tarnhold::gui
