#include "platform/appfolder.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tarnhold {
namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = CreateTempFolder(); }
    void TearDown() override { DeleteFolder(Dir); }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path Dir;
};

TEST_F(FilesTest, WriteAndReadBack) {
    const std::string data("bytes\0with zero\r\n\x82\xa0", 20);
    auto file = Dir / "a.bin";
    ASSERT_TRUE(WriteWholeFile(file, data));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(file, back));
    EXPECT_EQ(back, data);
    ASSERT_TRUE(WriteWholeFile(file, "x"));
    ASSERT_TRUE(ReadWholeFile(file, back));
    EXPECT_EQ(back, "x") << "truncated";
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
}

TEST_F(FilesTest, ReadErrors) {
    std::string out = "old";
    int error = 0;
    EXPECT_FALSE(ReadWholeFile(Dir / "missing", out, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ReadWholeFile(Dir, out, &error));
    EXPECT_EQ(error, EISDIR);
}

TEST_F(FilesTest, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
    auto file = Dir / "screen.dat";
    ASSERT_TRUE(WriteFileAtomic(file, "one"));
    ASSERT_TRUE(WriteFileAtomic(file, "two"));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(file, back));
    EXPECT_EQ(back, "two");
    EXPECT_EQ(Names(), (std::vector<std::string>{"screen.dat"}));
    int error = 0;
    EXPECT_FALSE(WriteFileAtomic(Dir / "no" / "such" / "x", "data", &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(Names(), (std::vector<std::string>{"screen.dat"}));
}

TEST_F(FilesTest, AtomicWriteKeepsTheModeAndReplacesALink) {
    // 0604 is no mode a umask makes of 0666.
    auto file = Dir / "screen.dat";
    ASSERT_TRUE(WriteWholeFile(file, "old"));
    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    ASSERT_TRUE(WriteFileAtomic(file, "new"));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);

    // The write itself never follows a link (a copy must not leave its folder).
    ASSERT_TRUE(WriteWholeFile(Dir / "elsewhere", "keep"));
    std::filesystem::create_symlink("elsewhere", Dir / "link");
    ASSERT_TRUE(WriteFileAtomic(Dir / "link", "new"));
    EXPECT_FALSE(std::filesystem::is_symlink(Dir / "link"));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(Dir / "elsewhere", back));
    EXPECT_EQ(back, "keep");
}

TEST_F(FilesTest, LinksResolveToTheFileTheyLeadTo) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(ForceDirectories(Dir / "real"));
    ASSERT_TRUE(WriteWholeFile(Dir / "real" / "f", ""));
    ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("real/f", Dir / "relative");
    fs::create_symlink(Dir / "relative", Dir / "chain");
    fs::create_symlink("real/missing", Dir / "dangling");
    fs::create_symlink("loop", Dir / "loop");
    fs::create_symlink("/dev/zero", Dir / "device");
    fs::create_symlink("fifo", Dir / "pipe");
    fs::create_symlink("real", Dir / "folder");
    struct Case {
        const char* name;
        fs::path file;
        fs::path target; // empty: refused
        int code;
    } cases[] = {
        {"a regular file", Dir / "real" / "f", Dir / "real" / "f", 0},
        {"no file yet", Dir / "new", Dir / "new", 0},
        {"relative link", Dir / "relative", Dir / "real" / "f", 0},
        {"chain of links", Dir / "chain", Dir / "real" / "f", 0},
        {"dangling link", Dir / "dangling", Dir / "real" / "missing", 0},
        {"loop", Dir / "loop", {}, ELOOP},
        {"device", Dir / "device", {}, EINVAL},
        {"FIFO", Dir / "pipe", {}, EINVAL},
        {"folder", Dir / "folder", {}, EISDIR},
    };
    for (const auto& c : cases) {
        fs::path target;
        const TError error = ResolveFileLinks(c.file, target);
        EXPECT_EQ(error.Code(), c.code) << c.name << ": " << error.Text();
        if (c.code == 0) {
            EXPECT_EQ(target.lexically_normal(), c.target) << c.name;
        }
    }
}

TEST_F(FilesTest, CopyOverwrites) {
    auto from = Dir / "from";
    auto to = Dir / "to";
    ASSERT_TRUE(WriteWholeFile(from, "new content"));
    ASSERT_TRUE(WriteWholeFile(to, "old"));
    ASSERT_TRUE(CopyFileOverwrite(from, to));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(to, back));
    EXPECT_EQ(back, "new content");
    // A failed copy keeps the target as it was and leaves nothing behind.
    int error = 0;
    EXPECT_FALSE(CopyFileOverwrite(Dir / "missing", to, &error));
    EXPECT_NE(error, 0);
    ASSERT_TRUE(ReadWholeFile(to, back));
    EXPECT_EQ(back, "new content");
    EXPECT_EQ(Names(), (std::vector<std::string>{"from", "to"}));
}

TEST_F(FilesTest, DeleteAndDirectories) {
    auto file = Dir / "f";
    ASSERT_TRUE(WriteWholeFile(file, ""));
    EXPECT_TRUE(DeleteFileIfExists(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(DeleteFileIfExists(file)) << "already gone";
    auto deep = Dir / "a" / "b" / "c";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep)) << "exists already";
    ASSERT_TRUE(WriteWholeFile(Dir / "plain", ""));
    int error = 0;
    EXPECT_FALSE(ForceDirectories(Dir / "plain" / "sub", &error));
    EXPECT_NE(error, 0);
}

TEST_F(FilesTest, FileTimes) {
    auto file = Dir / "t";
    ASSERT_TRUE(WriteWholeFile(file, "x"));
    FILETIME set;
    SYSTEMTIME st{};
    st.wYear = 2020;
    st.wMonth = 5;
    st.wDay = 17;
    st.wHour = 3;
    st.wMinute = 4;
    st.wSecond = 5;
    st.wMilliseconds = 678;
    ASSERT_TRUE(SystemTimeToFileTime(st, set));
    ASSERT_TRUE(SetFileTimeUtc(file, set));
    FILETIME got;
    ASSERT_TRUE(GetFileTimeUtc(file, got));
    EXPECT_EQ(CompareFileTime(got, set), 0);
    // The local file time is 9 hours ahead in Tokyo (the tests run there).
    FILETIME local;
    ASSERT_TRUE(GetFileLastWriteTime(file, local));
    FILETIME expected;
    ASSERT_TRUE(FileTimeToLocalFileTime(set, expected));
    EXPECT_EQ(CompareFileTime(local, expected), 0);
    local = U64ToFileTime(1);
    EXPECT_FALSE(GetFileLastWriteTime(Dir / "missing", local));
    EXPECT_TRUE(IsZeroFileTime(local));
}

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    EnvGuard(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            const char* v = std::getenv(n);
            Saved_.push_back({n, v != nullptr, v != nullptr ? v : ""});
        }
    }
    ~EnvGuard() {
        for (const auto& s : Saved_) {
            if (s.Had)
                ::setenv(s.Name, s.Value.c_str(), 1);
            else
                ::unsetenv(s.Name);
        }
    }

private:
    struct TSaved {
        const char* Name;
        bool Had;
        std::string Value;
    };
    std::vector<TSaved> Saved_;
};

TEST(AppFolder, Locations) {
    EnvGuard guard{"TARNHOLD_HOME", "XDG_CONFIG_HOME", "HOME"};
    ::setenv("TARNHOLD_HOME", "/some/where", 1);
    EXPECT_EQ(GetAppFolder(), std::filesystem::path("/some/where"));
    ::unsetenv("TARNHOLD_HOME");
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(GetAppFolder(), std::filesystem::path("/xdg/tarnhold"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(GetAppFolder(), std::filesystem::path("/home/u/.config/tarnhold"))
        << "a relative XDG_CONFIG_HOME is ignored";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(GetAppFolder(), std::filesystem::path("/home/u/.config/tarnhold"));
    EXPECT_EQ(GetDefaultSaveFolder(), std::filesystem::path("/home/u/Tarnhold"));
}

TEST(AppFolder, TemporaryFolders) {
    auto a = CreateTempFolder();
    auto b = CreateTempFolder();
    EXPECT_NE(a, b);
    EXPECT_TRUE(DirectoryExists(a));
    EXPECT_EQ(a.filename().string().rfind("TRH", 0), 0u);
    ASSERT_TRUE(WriteWholeFile(a / "f", "x"));
    ASSERT_TRUE(ForceDirectories(a / "sub" / "deeper"));
    DeleteFolder(a);
    DeleteFolder(b);
    EXPECT_FALSE(DirectoryExists(a));
    EXPECT_FALSE(DirectoryExists(b));
    DeleteFolder(a); // gone already: silent
}

TEST(AppFolder, TemporaryFolderFailsRatherThanGuessing) {
    auto parent = CreateTempFolder();
    ASSERT_TRUE(WriteWholeFile(parent / "file", "x"));
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    // $TMPDIR names a file: no private folder can be made below it.
    ::setenv("TMPDIR", (parent / "file").c_str(), 1);
    TError error;
    auto made = CreateTempFolder(&error);
    if (old != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(error.Code(), ENOTDIR);
    EXPECT_NE(error.Text().find("Not a directory"), std::string::npos) << error.Text();
    EXPECT_FALSE(std::filesystem::exists(parent / "TRH-unavailable"));
    DeleteFolder(parent);
}

} // namespace
} // namespace tarnhold
