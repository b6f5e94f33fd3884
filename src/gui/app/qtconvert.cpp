#include "app/qtconvert.h"

#include "platform/codepage.h"

#include <QFile>
#include <algorithm>

namespace tarnhold::gui {

namespace {

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString ToQString(std::string_view ansi) {
    // Most names and URLs are ASCII, which is the same in both.
    if (std::all_of(ansi.begin(), ansi.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(ansi.data(), static_cast<qsizetype>(ansi.size()));
    const std::u16string utf16 = AnsiToUtf16(ansi);
    return QString(reinterpret_cast<const QChar*>(utf16.data()),
                   static_cast<qsizetype>(utf16.size()));
}

std::string ToAnsi(const QString& text) {
    return Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                           static_cast<std::size_t>(text.size())));
}

QString DisplayText(std::string_view ansi) {
    return EscapeControls(ToQString(ansi));
}

QString DisplayUtf8(std::string_view utf8) {
    return EscapeControls(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

QString EscapeControls(const QString& text) {
    bool clean = true;
    for (QChar c : text) {
        if (IsControl(c.unicode())) {
            clean = false;
            break;
        }
    }
    if (clean)
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!IsControl(u))
            out += c;
        else if (u <= 0xFF)
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0'));
    }
    return out;
}

QString FavoriteToQString(std::string_view ansi) {
    const std::string utf8 = AnsiRefsToUtf8(ansi);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToFavoriteAnsi(const QString& text) {
    return Utf8ToAnsiRefs(text.toUtf8().toStdString());
}

QString FavoriteText(std::string_view ansi) {
    return EscapeControls(FavoriteToQString(ansi));
}

QString PathToQString(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path ToPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QUrl ToFileUrl(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(PathToQString(path));
}

} // namespace tarnhold::gui
