#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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
    ASSERT_TRUE(WriteTestFile(file, data));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(file, back));
    EXPECT_EQ(back, data);
    ASSERT_TRUE(WriteTestFile(file, "x"));
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
    ASSERT_TRUE(WriteTestFile(file, "old"));
    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    ASSERT_TRUE(WriteFileAtomic(file, "new"));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);

    // The write itself never follows a link (a copy must not leave its folder).
    ASSERT_TRUE(WriteTestFile(Dir / "elsewhere", "keep"));
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
    ASSERT_TRUE(WriteTestFile(Dir / "real" / "f", ""));
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

TEST_F(FilesTest, ReadAtTakesNoMoreThanAskedAndStopsAtTheEnd) {
    const std::string data = "0123456789";
    ASSERT_TRUE(WriteTestFile(Dir / "f", data));
    TFd fd(::open((Dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd.Valid());
    struct Case {
        const char* name;
        std::size_t size;
        std::uint64_t offset;
        std::string read;
    } const cases[] = {
        {"within the file", 4, 3, "3456"},      {"up to the end", 3, 7, "789"},
        {"past the end: short", 8, 6, "6789"},  {"at the end: nothing", 4, 10, ""},
        {"beyond the end: nothing", 4, 99, ""}, {"nothing asked", 0, 0, ""},
    };
    for (const Case& c : cases) {
        std::string buffer(c.size + 4, '#');
        const ssize_t n = ReadAt(fd.Get(), buffer.data(), c.size, c.offset);
        ASSERT_GE(n, 0) << c.name;
        EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(n)), c.read) << c.name;
        EXPECT_EQ(buffer.substr(c.size), "####") << c.name << ": bounded";
    }
    char byte = 0;
    errno = 0;
    EXPECT_EQ(ReadAt(-1, &byte, 1, 0), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(FilesTest, ReadAtFromThePositionReadsAPipeUntilItEnds) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    TFd in(fds[0]);
    TFd out(fds[1]);
    ASSERT_TRUE(WriteAllToFd(out.Get(), "abc"));
    ASSERT_TRUE(WriteAllToFd(out.Get(), "def"));
    ASSERT_EQ(out.Close(), 0);
    char buffer[16] = {};
    EXPECT_EQ(ReadAt(in.Get(), buffer, sizeof buffer, kAtPosition), 6);
    EXPECT_EQ(std::string(buffer), "abcdef");
    // With an offset, a pipe cannot be read.
    EXPECT_EQ(ReadAt(in.Get(), buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(errno, ESPIPE);
}

TEST_F(FilesTest, WholeFileOfAFifoIsReadAsItComes) {
    const auto fifo = Dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string data(100000, 'x');
    std::thread writer([&] {
        TFd fd(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
        (void)WriteAllToFd(fd.Get(), data);
    });
    std::string back;
    const bool read = ReadWholeFile(fifo, back);
    writer.join();
    EXPECT_TRUE(read);
    EXPECT_EQ(back.size(), data.size());
}

TEST_F(FilesTest, DescriptorsAreClosedWithTheirOwner) {
    auto isOpen = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
    int kept = -1;
    int moved = -1;
    {
        TFd a(::open(Dir.c_str(), O_RDONLY | O_CLOEXEC));
        TFd b(::open(Dir.c_str(), O_RDONLY | O_CLOEXEC));
        kept = b.Release();
        EXPECT_FALSE(b.Valid());
        TFd c(std::move(a));
        moved = c.Get();
        EXPECT_FALSE(a.Valid());
        EXPECT_TRUE(isOpen(moved));
    }
    EXPECT_FALSE(isOpen(moved)) << "closed once, by the owner it was moved to";
    EXPECT_TRUE(isOpen(kept)) << "released";
    TFd again(kept);
    again.Reset(::open(Dir.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_FALSE(isOpen(kept)) << "replaced, so closed";
    EXPECT_EQ(again.Close(), 0);
    EXPECT_EQ(again.Close(), 0) << "closing nothing";
}

TEST_F(FilesTest, DeleteAndDirectories) {
    auto file = Dir / "f";
    ASSERT_TRUE(WriteTestFile(file, ""));
    EXPECT_TRUE(DeleteFileIfExists(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(DeleteFileIfExists(file)) << "already gone";
    auto deep = Dir / "a" / "b" / "c";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep)) << "exists already";
    ASSERT_TRUE(WriteTestFile(Dir / "plain", ""));
    int error = 0;
    EXPECT_FALSE(ForceDirectories(Dir / "plain" / "sub", &error));
    EXPECT_NE(error, 0);
}

TEST_F(FilesTest, FileTimes) {
    auto file = Dir / "t";
    ASSERT_TRUE(WriteTestFile(file, "x"));
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
    ASSERT_TRUE(WriteTestFile(a / "f", "x"));
    ASSERT_TRUE(ForceDirectories(a / "sub" / "deeper"));
    DeleteFolder(a);
    DeleteFolder(b);
    EXPECT_FALSE(DirectoryExists(a));
    EXPECT_FALSE(DirectoryExists(b));
    DeleteFolder(a); // gone already: silent
}

TEST(AppFolder, TemporaryFolderFailsRatherThanGuessing) {
    auto parent = CreateTempFolder();
    ASSERT_TRUE(WriteTestFile(parent / "file", "x"));
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
