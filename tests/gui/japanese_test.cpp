// The window says in Japanese what the core says in English: failures from
// real reads, refusals and damage reports of real caches, names kept.
#include "app/japanese.h"
#include "favorites/favorites.h"
#include "sources/cachelocation.h"
#include "sources/opencache.h"
#include "support/cache_test_helpers.h"
#include "tree/webcache.h"

#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

const fs::path kBrowsers = fs::path(TARNHOLD_TEST_DATA) / "browsers";

// Two lower-case English words in a row, once the names (anything with a
// "/", a "." or a "_" in it: paths, files, URLs) are taken out.
bool HoldsEnglishProse(const QString& text) {
    QString prose = text;
    prose.remove(QRegularExpression(QStringLiteral("\\S*[/._]\\S*")));
    return prose.contains(QRegularExpression(QStringLiteral("\\b[a-z]{2,}[ ,;:()]+[a-z]{2,}\\b")));
}

TError ReadCache(const fs::path& path, TCacheKind kind, TReadReport* report = nullptr) {
    TError error;
    std::unique_ptr<TCacheSource> source = OpenCacheSourceAt(path, kind, &error);
    if (!source)
        return error;
    TWebCache cache(std::move(source));
    TWebCacheEntryInfo entry;
    for (bool more = cache.FindFirst(entry); more; more = cache.FindNext(entry)) {
    }
    cache.FindClose();
    if (report != nullptr)
        *report = cache.Source()->ReadReport();
    return cache.Error();
}

TEST(JapaneseText, FailuresOfRealReadsAreSaidInJapaneseWithTheirNames) {
    test::TTempDir dir;
    const fs::path root = dir.Path();
    std::vector<std::pair<std::string, TError>> failures;

    fs::create_directories(root / "dir-index" / "index.dat");
    failures.emplace_back("index.dat is a folder",
                          ReadCache(root / "dir-index" / "index.dat", TCacheKind::ckIndexDat));
    fs::create_directories(root / "fifo");
    ASSERT_EQ(::mkfifo((root / "fifo" / "index.dat").c_str(), 0600), 0);
    failures.emplace_back("index.dat is a pipe",
                          ReadCache(root / "fifo" / "index.dat", TCacheKind::ckIndexDat));
    fs::create_directories(root / "short");
    test::WriteFileBytes(root / "short" / "index.dat", "Client UrlCache MMF Ver 5.2");
    failures.emplace_back("index.dat inside its header",
                          ReadCache(root / "short" / "index.dat", TCacheKind::ckIndexDat));
    fs::create_directories(root / "zeros");
    test::WriteFileBytes(root / "zeros" / "index.dat", std::string(65536, '\0'));
    failures.emplace_back("no index.dat",
                          ReadCache(root / "zeros" / "index.dat", TCacheKind::ckIndexDat));
    fs::create_directories(root / "no-firefox");
    failures.emplace_back("no Firefox cache",
                          ReadCache(root / "no-firefox", TCacheKind::ckFirefox));

    const auto noEnv = [](const char*) -> const char* { return nullptr; };
    failures.emplace_back("no cache anywhere", LocateCache(std::nullopt, {}, noEnv).Error);
    fs::create_directories(root / "empty" / "a" / "b");
    failures.emplace_back("no cache below a folder", LocateCache(root / "empty", {}, noEnv).Error);

    test::WriteFileBytes(root / "favorites.dat", "[Favorites]\r\nCount=many\r\n[1]\r\nURL=x\r\n");
    TFavorites favorites;
    failures.emplace_back("favorites count", favorites.SetFileName(root / "favorites.dat"));

    for (int code : {ENOENT, EACCES, ENOSPC, EROFS, ELOOP, EISDIR, ENOTDIR, EBUSY, EIO})
        failures.emplace_back("errno " + std::to_string(code),
                              TError::FromErrno(code, (root / "x.html").string()));

    for (const auto& [what, error] : failures) {
        SCOPED_TRACE(what + ": " + error.Text());
        ASSERT_TRUE(error) << "the case must fail to test its message";
        const QString shown = ErrorText(error);
        if (std::getenv("TARNHOLD_SHOW_TEXTS") != nullptr)
            std::printf("%s\n", shown.toUtf8().constData());
        EXPECT_FALSE(HoldsEnglishProse(shown)) << shown.toStdString();
        // The names the core put in stay as they were.
        const QRegularExpression path(QStringLiteral("(?:^|\\s)(/\\S*[A-Za-z0-9])"));
        for (const auto& m : path.globalMatch(QString::fromStdString(error.Text())))
            EXPECT_TRUE(shown.contains(m.captured(1))) << m.captured(1).toStdString();
    }
}

TEST(JapaneseText, DamageReportsOfRealCachesAreSaidInJapanese) {
    struct TCase {
        const char* Name;
        const char* Cache;
        TCacheKind Kind;
        std::function<void(const fs::path&)> Damage;
    } cases[] = {
        {"blockfile data_1 cut short", "chromium-blockfile", TCacheKind::ckChromium,
         [](const fs::path& d) { fs::resize_file(d / "data_1", 8192 + 40 * 256); }},
        {"blockfile external file missing", "chromium-blockfile", TCacheKind::ckChromium,
         [](const fs::path& d) { fs::remove(d / "f_000001"); }},
        {"blockfile data_2 missing", "chromium-blockfile", TCacheKind::ckChromium,
         [](const fs::path& d) { fs::remove(d / "data_2"); }},
        {"blockfile data_0 missing", "chromium-blockfile", TCacheKind::ckChromium,
         [](const fs::path& d) { fs::remove(d / "data_0"); }},
        {"blockfile index header zeroed", "chromium-blockfile", TCacheKind::ckChromium,
         [](const fs::path& d) {
             std::string bytes = test::ReadFileBytes(d / "index");
             std::fill(bytes.begin(), bytes.begin() + 368, '\0');
             test::WriteFileBytes(d / "index", bytes);
         }},
        {"Simple cache entries cut", "chromium", TCacheKind::ckChromium,
         [](const fs::path& d) {
             int cut = 0;
             for (const auto& e : fs::directory_iterator(d))
                 if (e.path().filename().string().ends_with("_0") && cut++ < 3)
                     fs::resize_file(e.path(), fs::file_size(e.path()) / 2);
         }},
        {"Firefox entries cut", "firefox/cache2", TCacheKind::ckFirefox,
         [](const fs::path& d) {
             int cut = 0;
             for (const auto& e : fs::directory_iterator(d / "entries"))
                 if (cut++ < 3)
                     fs::resize_file(e.path(), fs::file_size(e.path()) / 2);
         }},
        {"SQL shard cut", "chromium-sql/Cache_Data", TCacheKind::ckChromium,
         [](const fs::path& d) { fs::resize_file(d / "sqldb1", 1024); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const fs::path folder = dir.Path() / "cache";
        test::CopyTree(kBrowsers / c.Cache, folder);
        c.Damage(folder);
        TReadReport report;
        const TError error = ReadCache(folder, c.Kind, &report);
        const QString shown = error ? ErrorText(error) : ReadReportText(report);
        ASSERT_FALSE(shown.isEmpty()) << "the damage must be reported";
        if (std::getenv("TARNHOLD_SHOW_TEXTS") != nullptr)
            std::printf("%s\n", shown.toUtf8().constData());
        EXPECT_FALSE(HoldsEnglishProse(shown))
            << shown.toStdString() << "\n(" << (error ? error.Text() : report.Summary) << ")";
    }
}

TEST(JapaneseText, PhrasesNotKnownStayAsTheCoreWroteThem) {
    EXPECT_EQ(JapaneseText("/a/b: something new happened").toStdString(),
              "/a/b: something new happened");
    EXPECT_EQ(JapaneseText("/a/b: not a regular file\n/c: No such file or directory").toStdString(),
              "/a/b: 通常のファイルではありません\n/c: ファイルまたはフォルダがありません");
    EXPECT_TRUE(ReadReportText(TReadReport{}).isEmpty());
}

} // namespace
} // namespace tarnhold::gui
