#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"
#include "mainwindow/property.h"
#include "support/cachetreefixture.h"
#include "text/displayformat.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

std::unique_ptr<TWebCacheTree> PropertyTree(bool enableScheme = true) {
    auto tree = testing::MakeTree(
        {
            {"http://h1/a/x.html", "text/html", 2, 1234567, "/cache/X1/x[1].htm"},
            {"http://h1/a/y.html", "text/html", 3, 10, "/cache/X2/y[1].HTM"},
            {"http://h1/a/z.gif", "image/gif", 4, 20, "/cache/X2/z[1].gif"},
            {"http://h1/b/w.html", "text/html", 5, 30, "/cache/X3/w[1].htm"},
            {"http://h1/a/sub/v.gif", "image/gif", 6, 40, "/cache/X3/v[1].gif"},
        },
        enableScheme);
    testing::Refresh(*tree);
    return tree;
}

QString TypeOf(const std::string& name) {
    return ToQString(GetFileTypeInfoByExt(name).TypeName);
}
QString FolderType() {
    return ToQString(GetFolderTypeInfo(false).TypeName);
}

TEST(Property, LocationTextAndThousands) {
    auto tree = PropertyTree();
    auto flat = PropertyTree(false);
    const struct {
        const char* name;
        const TWebCacheTreeNode* node;
        std::string text;
    } cases[] = {
        {"no node", nullptr, ""},
        {"root", tree->Root(), "Web Cache"},
        {"scheme folder", tree->FindFolderByUrl("http://h1/"), "http://h1/"},
        {"folder", tree->FindFolderByUrl("http://h1/a/sub/"), "http://h1/a/sub/"},
        {"without schemes", flat->FindFolderByUrl("http://h1/a/"), "h1/a/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocationText(c.node), c.text) << c.name;

    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1000), "1,000");
    EXPECT_EQ(FormatThousands(1234567), "1,234,567");
    EXPECT_EQ(FormatThousands(5000000000ULL), "5,000,000,000");
}

TEST(Property, OneFile) {
    auto tree = PropertyTree();
    TWebCacheTreeNode* x = tree->FindNodeByUrl("http://h1/a/x.html");
    TfrmProperty window(nullptr, {x});
    window.Fill();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("x.htmlのプロパティ"));
    EXPECT_EQ(window.NameText(), QStringLiteral("x.html"));
    EXPECT_EQ(window.TypeText(), TypeOf("x.html"));
    EXPECT_EQ(window.LocationValue(), QStringLiteral("http://h1/a/"));
    EXPECT_EQ(window.SizeText(),
              ToQString(FormatSizeShort(1234567)) + QStringLiteral(" (1,234,567 バイト)"));
    EXPECT_EQ(window.CacheNameText(), QStringLiteral("x[1].htm"));
    EXPECT_EQ(window.UrlText(), QStringLiteral("http://h1/a/x.html"));
    EXPECT_EQ(window.DateText(), QStringLiteral("2026年11月2日 21:00:00"));
    EXPECT_EQ(window.HeadersText(),
              QStringLiteral("HTTP/1.1 200 OK\nContent-Type: text/html\n\n~U:tester"));
    EXPECT_TRUE(window.DetailsShown());
    EXPECT_FALSE(window.ShowsBuiltInIcon());
}

TEST(Property, AWindowDescribesItsNodesAsTheyWereBeforeTheyAreDeleted) {
    // The window is not filled until shown; a deletion first makes it take
    // what it shows, so it never reads the freed node.
    auto tree = PropertyTree();
    TfrmProperty window(nullptr, {tree->FindNodeByUrl("http://h1/a/x.html")});
    ASSERT_TRUE(tree->DeleteByUrl("http://h1/a/x.html").Ok());
    EXPECT_EQ(window.NameText(), QStringLiteral("x.html"));
    EXPECT_EQ(window.UrlText(), QStringLiteral("http://h1/a/x.html"));
    window.Fill(); // again: nothing to read any more
    EXPECT_EQ(window.NodeCount(), 1u);
    EXPECT_EQ(window.NameText(), QStringLiteral("x.html"));
}

TEST(Property, OneFolderAndTheRoot) {
    auto tree = PropertyTree();
    TWebCacheTreeNode* a = tree->FindFolderByUrl("http://h1/a/");
    {
        TfrmProperty window(nullptr, {a});
        window.Fill();
        EXPECT_EQ(window.windowTitle(), QStringLiteral("aのプロパティ"));
        EXPECT_EQ(window.TypeText(), FolderType());
        EXPECT_EQ(window.LocationValue(), QStringLiteral("http://h1/"));
        EXPECT_EQ(window.SizeText(),
                  ToQString(FormatSizeShort(a->Size())) + QStringLiteral(" (1,234,637 バイト)"));
        EXPECT_EQ(window.CacheNameText(), QString());
        EXPECT_EQ(window.UrlText(), QString());
        EXPECT_EQ(window.HeadersText(), QString());
        // A folder's time is the latest of what it holds.
        EXPECT_EQ(window.DateText(), QStringLiteral("2026年11月6日 21:00:00"));
    }
    {
        TfrmProperty window(nullptr, {tree->Root()});
        window.Fill();
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Web Cacheのプロパティ"));
        EXPECT_EQ(window.TypeText(), FolderType());
        EXPECT_EQ(window.LocationValue(), QString());
        EXPECT_EQ(window.SizeText(),
                  ToQString(FormatSizeShort(1234667)) + QStringLiteral(" (1,234,667 バイト)"));
        EXPECT_EQ(window.IconImage(), BrowserIcon().pixmap(32, 32).toImage());
    }
}

TEST(Property, SeveralNodes) {
    auto tree = PropertyTree();
    TWebCacheTreeNode* x = tree->FindNodeByUrl("http://h1/a/x.html");
    TWebCacheTreeNode* y = tree->FindNodeByUrl("http://h1/a/y.html");
    TWebCacheTreeNode* z = tree->FindNodeByUrl("http://h1/a/z.gif");
    TWebCacheTreeNode* w = tree->FindNodeByUrl("http://h1/b/w.html");
    TWebCacheTreeNode* a = tree->FindFolderByUrl("http://h1/a/");
    TWebCacheTreeNode* b = tree->FindFolderByUrl("http://h1/b/");
    TWebCacheTreeNode* sub = tree->FindFolderByUrl("http://h1/a/sub/");
    const QString all = QStringLiteral("すべて ");
    const struct {
        const char* name;
        std::vector<TWebCacheTreeNode*> nodes;
        QString counts;
        QString type;
        QString location;
        std::uint64_t size;
    } cases[] = {
        {".htm and .HTM are one kind",
         {x, y},
         QStringLiteral("ファイル数: 2、フォルダ数: 0"),
         all + TypeOf(".htm"),
         all + QStringLiteral("http://h1/a/"),
         1234577},
        {".htm and .gif",
         {x, z},
         QStringLiteral("ファイル数: 2、フォルダ数: 0"),
         QStringLiteral("複数の種類"),
         all + QStringLiteral("http://h1/a/"),
         1234587},
        {"a file and a folder",
         {z, sub},
         QStringLiteral("ファイル数: 1、フォルダ数: 1"),
         QStringLiteral("複数の種類"),
         all + QStringLiteral("http://h1/a/"),
         60},
        {"files of two folders",
         {x, w},
         QStringLiteral("ファイル数: 2、フォルダ数: 0"),
         all + TypeOf(".htm"),
         QStringLiteral("複数のフォルダ"),
         1234597},
        {"two folders side by side",
         {a, b},
         QStringLiteral("ファイル数: 0、フォルダ数: 2"),
         all + FolderType(),
         all + QStringLiteral("http://h1/"),
         1234667},
    };
    for (const auto& c : cases) {
        TfrmProperty window(nullptr, c.nodes);
        window.Fill();
        EXPECT_EQ(window.NameText(), c.counts) << c.name;
        EXPECT_EQ(window.TypeText(), c.type) << c.name;
        EXPECT_EQ(window.LocationValue(), c.location) << c.name;
        EXPECT_EQ(window.SizeText(), ToQString(FormatSizeShort(c.size)) + QStringLiteral(" (") +
                                         ToQString(FormatThousands(c.size)) +
                                         QStringLiteral(" バイト)"))
            << c.name;
        EXPECT_FALSE(window.DetailsShown()) << c.name;
        EXPECT_EQ(window.ShowsBuiltInIcon(), c.type == QStringLiteral("複数の種類")) << c.name;
        EXPECT_EQ(window.windowTitle(),
                  DisplayText(c.nodes.front()->DisplayName()) + QStringLiteral(", ...のプロパティ"))
            << c.name;
    }
}

TEST(Property, NotModalFilledOnceAndFreedOnClose) {
    auto tree = PropertyTree();
    QPointer<TfrmProperty> window = new TfrmProperty(nullptr, {tree->Root()});
    window->show();
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->NameText(), QStringLiteral("Web Cache"));
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST(Property, HostileTextsAreEscaped) {
    auto tree = testing::MakeTree({{"http://h1/p\x1b[2Jq.html"}});
    testing::Refresh(*tree);
    TWebCacheTreeNode* host = tree->FindFolderByUrl("http://h1/");
    ASSERT_NE(host, nullptr);
    TfrmProperty window(nullptr, {host->Items(0)});
    window.Fill();
    EXPECT_FALSE(window.UrlText().contains(QChar(0x1b)));
    EXPECT_FALSE(window.windowTitle().contains(QChar(0x1b)));
}

} // namespace
} // namespace tarnhold::gui
