// The one place where the core's text meets Qt's. The core keeps names and
// URLs as ANSI text (Shift-JIS bytes), page titles and messages as UTF-8, and
// file names as std::filesystem::path (UTF-8 bytes); Qt wants QString. Everything the
// window shows or takes from the user passes through these functions.
#pragma once

#include <QString>
#include <QUrl>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhold::gui {

// ANSI text as a QString. Bytes that are not Shift-JIS become U+FFFD.
QString ToQString(std::string_view ansi);
// A QString as ANSI text; characters Shift-JIS lacks become "?".
std::string ToAnsi(const QString& text);

// ANSI text for display: converted as ToQString, then every control
// character (C0, DEL, C1, line and paragraph separators, the direction
// overrides) shown as "\xNN" or "\uNNNN", so a hostile name or title can
// neither break a row nor reorder what is around it.
QString DisplayText(std::string_view ansi);
// UTF-8 text (a page's title, a message) for display, with its control
// characters shown as DisplayText shows them; invalid bytes become U+FFFD.
QString DisplayUtf8(std::string_view utf8);
// Text already in a QString (a UTF-8 message or a file name) with its
// control characters shown as DisplayText shows them.
QString EscapeControls(const QString& text);

// A favorite's title (ANSI with character references for what the code
// page lacks, as favorites.dat keeps it) as the text it stands for, and
// back: the two round-trip every character, emoji included.
QString FavoriteToQString(std::string_view ansi);
std::string ToFavoriteAnsi(const QString& text);
// A favorite's title for display, with its control characters escaped.
QString FavoriteText(std::string_view ansi);

// A file name as Qt shows and opens it, and back. On Linux both are UTF-8;
// bytes that are not UTF-8 do not survive the trip into a QString.
QString PathToQString(const std::filesystem::path& path);
std::filesystem::path ToPath(const QString& text);
// A local file as a file: URL (for QDesktopServices).
QUrl ToFileUrl(const std::filesystem::path& path);

} // namespace tarnhold::gui
