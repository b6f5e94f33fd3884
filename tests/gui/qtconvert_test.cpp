#include "app/qtconvert.h"

#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

struct TAnsiCase {
    const char* name;
    std::string ansi;
    QString text;
};

TEST(QtConvert, AnsiRoundTrips) {
    const TAnsiCase cases[] = {
        {"ascii", "index.html", QStringLiteral("index.html")},
        {"katakana", "\x83\x65\x83\x58\x83\x67", QStringLiteral("テスト")},
        {"trail byte 0x5c", "\x95\x5c", QStringLiteral("表")},
        {"half-width kana", "\xcc\xa7\xb2\xd9", QStringLiteral("ﾌｧｲﾙ")},
        {"empty", "", QString()},
    };
    for (const TAnsiCase& c : cases) {
        EXPECT_EQ(ToQString(c.ansi), c.text) << c.name;
        EXPECT_EQ(ToAnsi(c.text), c.ansi) << c.name;
    }
}

TEST(QtConvert, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(ToAnsi(QStringLiteral("a\u00e9b")), "a?b");
}

TEST(QtConvert, DisplayTextEscapesControls) {
    const TAnsiCase cases[] = {
        {"plain", "Title", QStringLiteral("Title")},
        {"newline and tab", "a\nb\tc", QStringLiteral("a\\x0ab\\x09c")},
        {"escape and del", "\x1b[31m\x7f", QStringLiteral("\\x1b[31m\\x7f")},
        {"japanese kept", "\x83\x65\x0d", QStringLiteral("テ\\x0d")},
    };
    for (const TAnsiCase& c : cases)
        EXPECT_EQ(DisplayText(c.ansi), c.text) << c.name;
}

TEST(QtConvert, PathsKeepTheirUtf8Names) {
    const std::filesystem::path path = "/tmp/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88/a b.html";
    EXPECT_EQ(PathToQString(path), QStringLiteral("/tmp/テスト/a b.html"));
    EXPECT_EQ(ToPath(PathToQString(path)), path);
    EXPECT_EQ(ToFileUrl(path).toLocalFile(), QStringLiteral("/tmp/テスト/a b.html"));
}

} // namespace
} // namespace tarnhold::gui
