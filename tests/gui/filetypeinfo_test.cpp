#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"

#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

// " ﾌｧｲﾙ" as the made-up type names end.
const std::string kFile = " \xcc\xa7\xb2\xd9";

TEST(FileTypeInfo, ExtensionIsTakenAfterTheLastSeparator) {
    const struct {
        const char* name;
        const char* file;
        const char* extension;
    } cases[] = {
        {"plain", "a.html", ".html"},
        {"two dots", "a.tar.gz", ".gz"},
        {"none", "README", ""},
        {"dot in a folder", "dir.d/file", ""},
        {"dot before a colon", "a.b:c", ""},
        {"trailing dot", "a.", "."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TypeExtension(c.file), c.extension) << c.name;
}

TEST(FileTypeInfo, KnownTypesHaveTheirOwnNamesAndIcons) {
    for (const char* name : {"index.html", "pic.gif"}) {
        const TFileTypeInfo info = GetFileTypeInfoByExt(name);
        EXPECT_TRUE(info.Found) << name;
        EXPECT_FALSE(info.Icon.isNull()) << name;
        EXPECT_FALSE(info.PerFile) << name;
        EXPECT_FALSE(info.TypeName.empty()) << name;
    }
    // The MIME data's Japanese comment where it has one, never an English one.
    const QString html = ToQString(GetFileTypeInfoByExt("index.html").TypeName);
    EXPECT_TRUE(html.contains(QStringLiteral("HTML"))) << html.toStdString();
    EXPECT_NE(html, QStringLiteral("HTML document"));
    const QString gif = ToQString(GetFileTypeInfoByExt("PIC.GIF").TypeName);
    EXPECT_TRUE(gif.contains(QStringLiteral("GIF"))) << gif.toStdString();
}

TEST(FileTypeInfo, UnknownTypesAreNamedAfterTheirExtension) {
    const struct {
        const char* name;
        std::string file;
        std::string type;
    } cases[] = {
        {"unknown extension", "a.xyz", "XYZ" + kFile},
        {"lower-cased on the way", "b.QqZ", "QQZ" + kFile},
        {"no extension", "noextension", kFile.substr(1)},
    };
    for (const auto& c : cases) {
        const TFileTypeInfo info = GetFileTypeInfoByExt(c.file);
        EXPECT_EQ(info.TypeName, c.type) << c.name;
        EXPECT_FALSE(info.Icon.isNull()) << c.name;
    }
}

TEST(FileTypeInfo, FoldersAndTheBrowserHaveIcons) {
    const TFileTypeInfo closed = GetFolderTypeInfo(false);
    const TFileTypeInfo open = GetFolderTypeInfo(true);
    EXPECT_FALSE(closed.Icon.isNull());
    EXPECT_FALSE(open.Icon.isNull());
    EXPECT_FALSE(closed.TypeName.empty());
    EXPECT_EQ(closed.TypeName, open.TypeName);
    EXPECT_FALSE(BrowserIcon().isNull());
}

TEST(FileTypeInfo, FileOnDiskThatIsNoRegularFileIsNotOpened) {
    // /dev/zero would never end if its content were read.
    const TFileTypeInfo info = GetFileTypeInfo(QStringLiteral("/dev/zero"));
    EXPECT_FALSE(info.Icon.isNull());
}

TEST(TypeCache, AsksOncePerExtensionIgnoringCase) {
    TTypeCache cache;
    const auto first = cache.TypeAndIcon("a.html", "/c/1");
    const auto second = cache.TypeAndIcon("B.HTML", "/c/2");
    EXPECT_EQ(first.TypeName, second.TypeName);
    EXPECT_EQ(first.ImageIndex, second.ImageIndex);
    EXPECT_EQ(cache.Count(), 1);
    cache.TypeAndIcon("c.gif", "/c/3");
    cache.TypeAndIcon("d.xyz", "/c/4");
    EXPECT_EQ(cache.Count(), 3);
    EXPECT_EQ(cache.TypeAndIcon("e.xyz", "/c/5").TypeName, "XYZ" + kFile);
    EXPECT_EQ(cache.Count(), 3);
    for (int i = 0; i < static_cast<int>(cache.Icons().size()); ++i)
        EXPECT_FALSE(cache.Icon(i).isNull()) << i;
}

} // namespace
} // namespace tarnhold::gui
