#include "platform/appfolder.h"
#include "platform/files.h"
#include "platform/mimetypes.h"
#include "support/testfiles.h"
#include "tree/contenttype.h"
#include "tree/webcachetree.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

const std::filesystem::path kMimeTypes = std::string(TARNHOLD_TEST_DATA) + "/cache/mime.types";

const TContentTypeItem& Item(const TContentType& table, std::string_view type) {
    int index = table.IndexOf(type);
    EXPECT_GE(index, 0) << type;
    return table.Items(index < 0 ? 0 : index);
}

TEST(ContentTypes, MediaTypesInExtensionOrderThenBuiltInDefaults) {
    TContentType table;
    table.LoadFromRegistry(kMimeTypes);
    const auto& jpeg = Item(table, "image/jpeg");
    EXPECT_EQ(jpeg.Extensions, (std::vector<std::string>{".jpe", ".jpeg", ".jpg"}));
    EXPECT_EQ(jpeg.DefaultExtension, ".jpg");
    const auto& html = Item(table, "text/html");
    EXPECT_EQ(html.Extensions, (std::vector<std::string>{".htm", ".html", ".shtml"}));
    EXPECT_EQ(html.DefaultExtension, ".html") << "the built-in default beats the last in order";
    EXPECT_EQ(Item(table, "video/x-demo").DefaultExtension, ".zzz")
        << "a type only the file knows keeps its last extension in byte order";
    EXPECT_EQ(Item(table, "application/x-javascript").DefaultExtension, ".js");
    EXPECT_LT(table.IndexOf("Text/HTML"), 0) << "lookups match the exact text";
    for (int i = 1; i < table.Count(); ++i)
        EXPECT_LT(table.Items(i - 1).ContentType, table.Items(i).ContentType);
}

// A type named on several lines, apart and out of order, gathers every
// extension in the order the reader gives them (by extension): the same
// table as adding them one by one.
TEST(ContentTypes, MediaTypesOnSeveralLinesGatherAsAddedLineByLine) {
    auto dir = CreateTempFolder();
    auto file = dir / "mime.types";
    ASSERT_TRUE(WriteTestFile(file, "video/x-b\tbbb\n"
                                    "audio/x-a\taaa aab\n"
                                    "video/x-b\tbba\n"
                                    "audio/x-a\tAAA\n"
                                    "text/html\tzhtml\n"
                                    "application/x-c\tccc\n"));
    TContentType table;
    table.LoadFromRegistry(file);
    TContentType lineByLine;
    for (const auto& [ext, type] : ReadMimeTypesFile(file))
        lineByLine.Add(type, ext);
    for (const std::string_view type : {"video/x-b", "audio/x-a", "application/x-c"}) {
        EXPECT_EQ(Item(table, type).Extensions, Item(lineByLine, type).Extensions) << type;
        EXPECT_EQ(Item(table, type).DefaultExtension, Item(lineByLine, type).DefaultExtension)
            << type;
    }
    EXPECT_EQ(Item(table, "video/x-b").Extensions, (std::vector<std::string>{".bba", ".bbb"}));
    EXPECT_EQ(Item(table, "audio/x-a").Extensions, (std::vector<std::string>{".AAA", ".aab"}));
    EXPECT_EQ(Item(table, "audio/x-a").DefaultExtension, ".aab");
    EXPECT_EQ(Item(table, "text/html").Extensions, (std::vector<std::string>{".zhtml", ".html"}));
    EXPECT_EQ(Item(table, "text/html").DefaultExtension, ".html");
    for (int i = 1; i < table.Count(); ++i)
        EXPECT_LT(table.Items(i - 1).ContentType, table.Items(i).ContentType);
}

TEST(ContentTypes, WithoutTheMediaTypesFileTheCommonTypesStillHaveNames) {
    TContentType table;
    table.LoadFromRegistry("/nonexistent/mime.types");
    EXPECT_EQ(Item(table, "text/html").DefaultExtension, ".html");
    EXPECT_EQ(Item(table, "image/jpeg").DefaultExtension, ".jpg");
    EXPECT_EQ(Item(table, "text/javascript").DefaultExtension, ".js");
}

TEST(ContentTypes, DefaultExtensionRules) {
    TContentTypeItem item("image/jpeg");
    item.SetDefaultExtension(".jpg");
    item.SetDefaultExtension(".JPG");
    EXPECT_EQ(item.Extensions, std::vector<std::string>{".jpg"}) << "equal ignoring case";
    EXPECT_EQ(item.DefaultExtension, ".JPG");
    item.SetDefaultExtension(".jpeg");
    EXPECT_EQ(item.Extensions, (std::vector<std::string>{".jpg", ".jpeg"}));
    EXPECT_TRUE(item.HasExtension(".JPEG"));
    EXPECT_FALSE(item.HasExtension(".png"));
}

TEST(ContentTypes, FileOverridesAndRoundTrip) {
    auto dir = CreateTempFolder();
    auto file = dir / "contentType.dat";
    ASSERT_TRUE(WriteTestFile(file, "image/jpeg\t.jpeg\r\n"
                                    "application/x-new\t.new\r\n"
                                    "broken line\r\n"
                                    "text/html\t.htm\r\n"));
    TContentType table;
    table.LoadFromRegistry(kMimeTypes);
    TRecordFileRead read = table.LoadFromFile(file);
    EXPECT_EQ(read.BadRecords, 1);
    EXPECT_FALSE(read.Whole());
    EXPECT_EQ(Item(table, "image/jpeg").DefaultExtension, ".jpeg");
    EXPECT_EQ(Item(table, "image/jpeg").Extensions,
              (std::vector<std::string>{".jpe", ".jpeg", ".jpg"}));
    EXPECT_EQ(Item(table, "application/x-new").Extensions, std::vector<std::string>{".new"});
    EXPECT_EQ(Item(table, "text/html").DefaultExtension, ".htm")
        << "the records after a bad one are read";

    ASSERT_TRUE(table.SaveToFile(file).Ok());
    TContentType again;
    EXPECT_TRUE(again.LoadFromFile(file).Whole());
    ASSERT_EQ(again.Count(), table.Count());
    for (int i = 0; i < table.Count(); ++i)
        EXPECT_EQ(again.Items(i).DefaultExtension, table.Items(i).DefaultExtension);
    EXPECT_TRUE(again.LoadFromFile(dir / "missing.dat").Missing);
    DeleteFolder(dir);
}

TEST(MimeTypes, ParsesLinesCommentsAndFirstTypeOfAnExtension) {
    auto pairs = ParseMimeTypes("# comment\n"
                                "text/html\thtml htm\r\n"
                                "application/x-other html xx # trailing comment\n"
                                "no-slash ext\n"
                                "type/only\n");
    std::vector<std::pair<std::string, std::string>> expected{
        {".htm", "text/html"}, {".html", "text/html"}, {".xx", "application/x-other"}};
    EXPECT_EQ(pairs, expected);
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

TEST(ContentTypeFile, ADamagedFileIsLeftAloneAndOnlyALostChangeIsReported) {
    auto dir = CreateTempFolder();
    auto file = dir / "contentType.dat";
    const std::string damaged = "image/jpeg\t.jpeg\r\nbroken line\r\ntext/html\t.htm\r\n";
    ASSERT_TRUE(WriteTestFile(file, damaged));
    TWebCacheTree tree;
    tree.MimeTypesFile = kMimeTypes;
    tree.SetContentTypeFile(file);
    EXPECT_EQ(tree.ContentTypeRead().BadRecords, 1);
    EXPECT_TRUE(tree.SaveContentTypes().Ok()) << "nothing changed, nothing lost";

    tree.ContentTypes().Add("image/png", ".PNG");
    TError error = tree.SaveContentTypes();
    EXPECT_EQ(error.Code(), EBADMSG);
    EXPECT_NE(error.Text().find("contentType.dat"), std::string::npos) << error.Text();
    std::string after;
    ASSERT_TRUE(ReadWholeFile(file, after));
    EXPECT_EQ(after, damaged);
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold
