#include "platform/appfolder.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold {
namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = CreateTempFolder(); }
    void TearDown() override { DeleteFolder(Dir); }

    std::filesystem::path Write(const std::string& name, const std::string& text) {
        std::filesystem::path file = Dir / name;
        EXPECT_TRUE(WriteTestFile(file, text));
        return file;
    }
    std::string Read(const std::filesystem::path& file) {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(file, text));
        return text;
    }
    std::vector<std::string> FilesInDir() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::filesystem::path Dir;
};

const char* const kSample = "; settings of the main window\r\n"
                            "[Window]\r\n"
                            "Left=10\r\n"
                            "  Top = 20  \r\n"
                            "; width in pixels\r\n"
                            "Width=abc\r\n"
                            "\r\n"
                            "[Favorites]\r\n"
                            "SortType=1\r\n"
                            "Title=\x93\xfa\x96\x7b\r\n"; // 日本

TEST_F(ProfileTest, ReadsWithDefaults) {
    TProfileFile ini(Write("screen.dat", kSample));
    EXPECT_EQ(ini.LoadError(), 0);
    EXPECT_EQ(ini.ReadInteger("Window", "Left", -1), 10);
    EXPECT_EQ(ini.ReadInteger("Window", "Top", -1), 20) << "names and values are trimmed";
    EXPECT_EQ(ini.ReadInteger("window", "LEFT", -1), 10) << "case is ignored";
    EXPECT_EQ(ini.ReadInteger("Window", "Width", 640), 640) << "not a number";
    EXPECT_EQ(ini.ReadInteger("Window", "Height", 480), 480) << "missing key";
    EXPECT_EQ(ini.ReadInteger("Nowhere", "Left", 7), 7) << "missing section";
    EXPECT_EQ(ini.ReadOptionalInteger("Window", "Top"), 20);
    EXPECT_EQ(ini.ReadOptionalInteger("Window", "Width"), std::nullopt) << "not a number";
    EXPECT_EQ(ini.ReadOptionalInteger("Window", "Height"), std::nullopt) << "missing key";
    EXPECT_EQ(ini.ReadString("Favorites", "Title", ""), "\x93\xfa\x96\x7b");
    EXPECT_EQ(ini.ReadString("Window", "; width in pixels", "d"), "d") << "comment";
    EXPECT_TRUE(ini.ReadBool("Favorites", "SortType", false));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Window", "Favorites"}));
    EXPECT_EQ(ini.ReadSection("WINDOW"), (std::vector<std::string>{"Left", "Top", "Width"}));
    EXPECT_TRUE(ini.ValueExists("window", "top"));
    EXPECT_FALSE(ini.ValueExists("window", "height"));
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
    TProfileFile ini(Dir / "none.dat");
    EXPECT_EQ(ini.LoadError(), 0);
    EXPECT_EQ(ini.ReadString("A", "B", "def"), "def");
    EXPECT_TRUE(ini.ReadSections().empty());
}

TEST(ProfileInteger, Forms) {
    struct {
        const char* Value;
        int Read;
    } cases[] = {
        {"0", 0},           {"-12", -12}, {"+7", 7},
        {" 42 ", 42},       {"", 99},     {"12a", 99},
        {"0x10", 99},       {"1.5", 99},  {"2147483647", 2147483647},
        {"2147483648", 99}, {"--1", 99},  {"+-1", 99},
        {"+", 99},
    };
    for (const auto& c : cases) {
        TProfileFile ini;
        ini.SetText(std::string("[s]\nk=") + c.Value + "\n");
        EXPECT_EQ(ini.ReadInteger("s", "k", 99), c.Read) << c.Value;
    }
    TProfileFile ini;
    ini.SetText("[s]\nyes=1\nno=0\nodd=2\nbad=x\n");
    EXPECT_TRUE(ini.ReadBool("s", "yes", false));
    EXPECT_FALSE(ini.ReadBool("s", "no", true));
    EXPECT_TRUE(ini.ReadBool("s", "odd", false));
    EXPECT_TRUE(ini.ReadBool("s", "bad", true));
    EXPECT_FALSE(ini.ReadBool("s", "bad", false));
}

TEST_F(ProfileTest, WriteUpdatesInPlaceAndKeepsEverythingElse) {
    auto file = Write("screen.dat", kSample);
    {
        TProfileFile ini(file);
        EXPECT_TRUE(ini.WriteInteger("WINDOW", "top", 25));
        EXPECT_TRUE(ini.WriteString("Window", "Height", "300"));
        EXPECT_TRUE(ini.WriteBool("Favorites", "Timer", true));
        EXPECT_TRUE(ini.WriteString("New", "Key", "v"));
    }
    EXPECT_EQ(Read(file), "; settings of the main window\r\n"
                          "[Window]\r\n"
                          "Left=10\r\n"
                          "  Top = 25\r\n"
                          "; width in pixels\r\n"
                          "Width=abc\r\n"
                          "Height=300\r\n"
                          "\r\n"
                          "[Favorites]\r\n"
                          "SortType=1\r\n"
                          "Title=\x93\xfa\x96\x7b\r\n"
                          "Timer=1\r\n"
                          "[New]\r\n"
                          "Key=v\r\n");
}

TEST_F(ProfileTest, KeepsUnixLineEnds) {
    auto file = Write("find.dat", "[a]\nx=1\n");
    TProfileFile ini(file);
    EXPECT_TRUE(ini.WriteString("a", "y", "2"));
    EXPECT_EQ(Read(file), "[a]\nx=1\ny=2\n");
}

TEST_F(ProfileTest, NewFileAndFolderAreCreated) {
    auto file = Dir / "sub" / "dir" / "favorites.dat";
    TProfileFile ini(file);
    EXPECT_TRUE(ini.WriteInteger("Favorites", "Count", 0));
    EXPECT_EQ(Read(file), "[Favorites]\r\nCount=0\r\n");
}

TEST_F(ProfileTest, BatchedWritesGoOutOnce) {
    auto file = Dir / "favorites.dat";
    TProfileFile ini(file);
    ini.SetAutoUpdate(false);
    for (int i = 1; i <= 3; ++i) {
        char section[16];
        std::snprintf(section, sizeof section, "Favorite%04d", i);
        ini.WriteString(section, "UrlName", "http://h" + std::to_string(i) + "/");
        ini.WriteInteger(section, "Folder", 2);
    }
    EXPECT_TRUE(ini.Modified());
    EXPECT_FALSE(FileExists(file)) << "nothing written before UpdateFile";
    EXPECT_TRUE(ini.UpdateFile());
    EXPECT_FALSE(ini.Modified());
    TProfileFile again(file);
    EXPECT_EQ(again.ReadString("favorite0002", "urlname", ""), "http://h2/");
    EXPECT_EQ(again.ReadSections().size(), 3u);
}

TEST_F(ProfileTest, DestructorFlushesPendingWrites) {
    auto file = Dir / "screen.dat";
    {
        TProfileFile ini(file);
        ini.SetAutoUpdate(false);
        ini.WriteString("Window", "Left", "1");
    }
    EXPECT_EQ(Read(file), "[Window]\r\nLeft=1\r\n");
}

TEST_F(ProfileTest, EraseSectionAndDeleteKey) {
    auto file = Write("f.dat", "[a]\r\nx=1\r\n; note\r\ny=2\r\n[b]\r\nz=3\r\n[A]\r\nx=4\r\n");
    TProfileFile ini(file);
    EXPECT_TRUE(ini.DeleteKey("A", "X"));
    EXPECT_EQ(ini.ReadString("a", "x", "gone"), "gone");
    EXPECT_EQ(Read(file), "[a]\r\n; note\r\ny=2\r\n[b]\r\nz=3\r\n[A]\r\n");
    EXPECT_TRUE(ini.EraseSection("a"));
    EXPECT_EQ(Read(file), "[b]\r\nz=3\r\n");
    EXPECT_TRUE(ini.EraseSection("missing"));
    EXPECT_TRUE(ini.DeleteKey("b", "missing"));
}

TEST_F(ProfileTest, WritesThatNoLineCouldHold) {
    TProfileFile ini(Dir / "x.dat");
    EXPECT_FALSE(ini.WriteString("", "k", "v"));
    EXPECT_FALSE(ini.WriteString("a]b", "k", "v"));
    EXPECT_FALSE(ini.WriteString("s", "", "v"));
    EXPECT_FALSE(ini.WriteString("s", "k=1", "v"));
    EXPECT_FALSE(ini.WriteString("s", ";k", "v"));
    EXPECT_FALSE(ini.WriteString("s", "k\n[x]", "v"));
    EXPECT_FALSE(ini.WriteString("s", "k\x81", "v")) << "a lead byte would hide the =";
    EXPECT_FALSE(ini.WriteString("s\x81", "k", "v"));
    EXPECT_FALSE(ini.Modified());
    // A line break in a value stays inside its line.
    EXPECT_TRUE(ini.WriteString("s", "Title", "two\r\nlines"));
    EXPECT_EQ(ini.ReadString("s", "Title", ""), "two  lines");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"s"}));
}

TEST_F(ProfileTest, AtomicWriteLeavesNoTemporaryFile) {
    auto file = Write("screen.dat", kSample);
    TProfileFile ini(file);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(ini.WriteInteger("Window", "Left", i));
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"screen.dat"}));
}

TEST_F(ProfileTest, UnreadableTargetIsLeftAlone) {
    // A folder where the file should be cannot be read.
    ASSERT_TRUE(ForceDirectories(Dir / "screen.dat" / "inside"));
    TProfileFile ini(Dir / "screen.dat");
    EXPECT_EQ(ini.LoadError(), EISDIR);
    EXPECT_EQ(ini.ReadInteger("Window", "Left", 5), 5);
    EXPECT_FALSE(ini.WriteInteger("Window", "Left", 1));
    EXPECT_EQ(ini.LastError(), EISDIR);
    EXPECT_FALSE(ini.EraseSection("Window"));
    EXPECT_TRUE(DirectoryExists(Dir / "screen.dat" / "inside"));
}

TEST_F(ProfileTest, WritesThroughLinksAndKeepsTheMode) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(ForceDirectories(Dir / "dotfiles"));
    const auto real = Dir / "dotfiles" / "screen.dat";
    ASSERT_TRUE(WriteTestFile(real, kSample));
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0); // no mode a umask makes of 0666
    fs::create_symlink("dotfiles/screen.dat", Dir / "screen.dat");
    {
        TProfileFile ini(Dir / "screen.dat");
        EXPECT_EQ(ini.ReadInteger("Window", "Left", 0), 10) << "read through the link";
        EXPECT_TRUE(ini.WriteInteger("Window", "Left", 11)) << ini.LastFailure().Text();
    }
    EXPECT_TRUE(fs::is_symlink(Dir / "screen.dat")) << "the link stays a link";
    EXPECT_EQ(TProfileFile(real).ReadInteger("Window", "Left", 0), 11);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(FilesInDir().size(), 2u) << "no temporary file left";

    // A link that leads nowhere writable is refused, naming where it leads.
    fs::create_symlink("gone/screen.dat", Dir / "dangling.dat");
    TProfileFile dangling(Dir / "dangling.dat");
    EXPECT_FALSE(dangling.WriteInteger("Window", "Left", 1));
    EXPECT_EQ(dangling.LastError(), ENOENT);
    const std::string& why = dangling.LastFailure().Text();
    EXPECT_NE(why.find("gone/screen.dat"), std::string::npos) << why;
    EXPECT_NE(why.find("dangling.dat"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_symlink(Dir / "dangling.dat"));
}

TEST_F(ProfileTest, OnlyRegularFilesAreRead) {
    // A FIFO would block the reader, a device never end; neither is replaced.
    namespace fs = std::filesystem;
    ASSERT_EQ(::mkfifo((Dir / "fifo.dat").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", Dir / "zero.dat");
    fs::create_symlink("fifo.dat", Dir / "pipe.dat");
    for (const char* name : {"fifo.dat", "zero.dat", "pipe.dat"}) {
        TProfileFile ini(Dir / name);
        EXPECT_EQ(ini.LoadError(), EINVAL) << name;
        EXPECT_NE(ini.LoadFailure().Text().find("not a regular file"), std::string::npos)
            << ini.LoadFailure().Text();
        EXPECT_FALSE(ini.WriteInteger("Window", "Left", 1)) << name;
        EXPECT_EQ(ini.LastError(), EINVAL) << name;
    }
    EXPECT_EQ(fs::status(Dir / "fifo.dat").type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(Dir / "zero.dat"));
}

TEST(ProfileFile, UnreadableFileIsNeverOverwritten) {
    // Each failed step has its own result, so a failure says which it was.
    const int result = testing::RunUnprivileged([] {
        const auto dir = CreateTempFolder();
        if (dir.empty())
            return 90;
        const auto file = dir / "screen.dat";
        if (!WriteTestFile(file, kSample) || ::chmod(file.c_str(), 0) != 0)
            return 91;
        int step = 0;
        {
            TProfileFile ini(file);
            if (ini.LoadError() != EACCES)
                step = 1;
            else if (ini.ReadInteger("Window", "Left", 5) != 5)
                step = 2;
            else if (ini.WriteInteger("Window", "Left", 1))
                step = 3;
            else if (ini.LastError() != EACCES)
                step = 4;
        }
        std::string text;
        if (step == 0 &&
            (::chmod(file.c_str(), 0644) != 0 || !ReadWholeFile(file, text) || text != kSample))
            step = 5;
        DeleteFolder(dir);
        return step;
    });
    EXPECT_EQ(result, 0) << "1: not refused, 2: default lost, 3: written, 4: no reason, "
                            "5: file changed, 9x/100: set-up";
}

TEST_F(ProfileTest, FailedWriteReportsAndKeepsTheChange) {
    // The target's folder is a file: the write cannot succeed.
    Write("blocker", "");
    TProfileFile ini(Dir / "blocker" / "screen.dat");
    EXPECT_FALSE(ini.WriteInteger("Window", "Left", 1));
    EXPECT_NE(ini.LastError(), 0);
    EXPECT_TRUE(ini.Modified());
    EXPECT_EQ(ini.ReadInteger("Window", "Left", 0), 1);
}

TEST(ProfileText, WritesWithoutAFile) {
    TProfileFile ini;
    ini.SetAutoUpdate(false);
    EXPECT_TRUE(ini.WriteString("a", "k", "v"));
    EXPECT_TRUE(ini.WriteString("b", "k", "w"));
    EXPECT_EQ(ini.Text(), "[a]\r\nk=v\r\n[b]\r\nk=w\r\n");
    EXPECT_FALSE(ini.UpdateFile()) << "no file name";
}

TEST(ProfileText, OddLines) {
    TProfileFile ini;
    ini.SetText("k=before any section\n"
                "[ spaced ]\n"
                "novalue\n"
                "=nokey\n"
                "a=1=2\n"
                "[open\n"
                "b=\n"
                "[dup]\nx=1\n[DUP]\nx=2\ny=3\n");
    EXPECT_EQ(ini.ReadString("", "k", "d"), "d");
    EXPECT_EQ(ini.ReadString("spaced", "a", ""), "1=2");
    EXPECT_EQ(ini.ReadSection("spaced"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(ini.ReadString("open", "b", "d"), "") << "present but empty";
    EXPECT_EQ(ini.ReadString("dup", "x", ""), "1") << "first section of a name";
    EXPECT_EQ(ini.ReadString("dup", "y", "d"), "d");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"spaced", "open", "dup"}));
    // Writing back changes nothing that was not written.
    std::string before = ini.Text();
    ini.SetAutoUpdate(false);
    EXPECT_TRUE(ini.WriteString("spaced", "a", "1=2"));
    EXPECT_EQ(ini.Text(), before);
}

} // namespace
} // namespace tarnhold
