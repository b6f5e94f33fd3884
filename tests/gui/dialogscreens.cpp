// Writes a picture of every dialog of the window to a folder, for looking at
// them without a desktop:
//   tarnhold-dialog-screens [folder]
// (default: $TARNHOLD_SCREENSHOT_DIR, else ./screens)
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/confirmdelete.h"
#include "copy/confirmoverwrite.h"
#include "copy/copyengine.h"
#include "copy/copytofolder.h"
#include "favorites/editfavorite.h"
#include "favorites/importfavorites.h"
#include "find/browse.h"
#include "find/find.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/defextname.h"
#include "mainwindow/property.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"
#include "support/testfiles.h"
#include "tree/contenttype.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <cerrno>
#include <cstdio>

using namespace tarnhold;
using namespace tarnhold::gui;

namespace {

QString outFolder;
int failed = 0;

void Shoot(QWidget& widget, const char* name) {
    widget.show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    const QString file =
        outFolder + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png");
    if (widget.grab().save(file)) {
        std::printf("%s\n", file.toLocal8Bit().constData());
    } else {
        ++failed;
        std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
    }
    widget.hide();
}

void ShootMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                  const char* name) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    Shoot(box, name);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTranslator qtbase;
    if (qtbase.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtbase);
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));

    outFolder = argc > 1
                    ? QString::fromLocal8Bit(argv[1])
                    : qEnvironmentVariable("TARNHOLD_SCREENSHOT_DIR", QStringLiteral("screens"));
    if (!QDir().mkpath(outFolder)) {
        std::fprintf(stderr, "cannot make %s\n", outFolder.toLocal8Bit().constData());
        return 1;
    }

    auto tree = testing::MakeTree({
        {"http://www.example.co.jp/docs/index.html", "text/html", 2, 1234567,
         "/cache/Content.IE5/X1/index[1].htm"},
        {"http://www.example.co.jp/docs/\x83\x65\x83\x58\x83\x67.html", "text/html", 3, 5230,
         "/cache/Content.IE5/X2/test[1].htm"},
        {"http://www.example.co.jp/docs/logo.gif", "image/gif", 4, 812,
         "/cache/Content.IE5/X2/logo[1].gif"},
        {"http://www.example.co.jp/img/banner.png", "image/png", 5, 20480,
         "/cache/Content.IE5/X3/banner[1].png"},
    });
    testing::Refresh(*tree);
    TWebCacheTreeNode* docs = tree->FindFolderByUrl("http://www.example.co.jp/docs/");
    TWebCacheTreeNode* page = tree->FindNodeByUrl("http://www.example.co.jp/docs/index.html");
    TWebCacheTreeNode* logo = tree->FindNodeByUrl("http://www.example.co.jp/docs/logo.gif");
    TWebCacheTreeNode* img = tree->FindFolderByUrl("http://www.example.co.jp/img/");
    if (docs == nullptr || page == nullptr || logo == nullptr || img == nullptr) {
        std::fprintf(stderr, "the sample tree is not as expected\n");
        return 1;
    }

    TGuiPrompts prompts;

    QTemporaryDir temp;
    const std::filesystem::path local = ToPath(temp.path()) / "index.html";
    (void)WriteTestFile(local, std::string(4321, 'x'));
    TfrmConfirmOverwrite& overwrite = prompts.ConfirmOverwriteDialog();
    overwrite.Prepare(*page, local);
    Shoot(overwrite, "confirmoverwrite");

    TfrmCopyToFolder& copyTo = prompts.CopyToFolderDialog();
    copyTo.SetFolderName(QStringLiteral("/home/user/Tarnhold/"));
    Shoot(copyTo, "copytofolder");

    TfrmConfirmDelete deleteFolder(nullptr, {docs});
    Shoot(deleteFolder, "confirmdelete-folder");
    TfrmConfirmDelete deleteFile(nullptr, {page});
    Shoot(deleteFile, "confirmdelete-file");
    TfrmConfirmDelete deleteSeveral(nullptr, {docs, img, logo});
    Shoot(deleteSeveral, "confirmdelete-several");

    TContentType& types = tree->ContentTypes();
    TfrmDefExtName& defExt = prompts.DefExtNameDialog();
    defExt.Fill(types);
    Shoot(defExt, "defextname");

    TfrmProperty propFile(nullptr, {page});
    Shoot(propFile, "property-file");
    TfrmProperty propFolder(nullptr, {docs});
    Shoot(propFolder, "property-folder");
    TfrmProperty propRoot(nullptr, {tree->Root()});
    Shoot(propRoot, "property-root");
    TfrmProperty propFiles(nullptr, {page, logo});
    Shoot(propFiles, "property-several");
    TfrmProperty propMixed(nullptr, {docs, img, logo});
    Shoot(propMixed, "property-mixed");

    const std::vector<TFoundCache> caches = {
        {"/home/user/.wine/drive_c/users/user/Local Settings/Temporary Internet "
         "Files/Content.IE5",
         "Wine prefix /home/user/.wine", TCacheKind::ckIndexDat},
        {"/home/user/.cache/chromium/Default/Cache/Cache_Data", "Chromium (Default)",
         TCacheKind::ckChromium},
        {"/home/user/.mozilla/firefox/abcd1234.default-esr/cache2",
         "Firefox (abcd1234.default-esr)", TCacheKind::ckFirefox},
    };
    TfrmCacheChooser chooser(prompts, caches, caches[1].Folder);
    Shoot(chooser, "cachechooser");

    // The favorite editor in its three modes.
    TfrmEditFavorite edit(prompts);
    TFavoriteItem site = TFavorites::MakeDefaultItem();
    site.Title = Utf8ToAnsiRefs("やまびこ山歩会 🏔");
    site.UrlName = "http://www.yamabiko.test/";
    site.PathName = "/home/user/Tarnhold/yamabiko/";
    TFavoriteItem photo = site;
    photo.PathName = "/home/user/Tarnhold/photo/";
    photo.Method = mtSameDomain;
    TFavoriteItem defaults = TFavorites::MakeDefaultItem();
    edit.EditItem(&site, false);
    Shoot(edit, "editfavorite-single");
    edit.EditItem(&defaults, true);
    Shoot(edit, "editfavorite-default");
    edit.EditItems({&site, &photo});
    Shoot(edit, "editfavorite-multiple");

    // The import dialog on each kind of source, some entries checked.
    TFavorites store;
    store.AddNew("shop", "http://www.shop.test/");
    store.AddNew("news", "http://news.example.test/");
    const std::filesystem::path shortcuts = ToPath(temp.path()) / "Favorites";
    for (const auto& [file, url] :
         {std::pair<const char*, const char*>{"リンク/Shop.url", "http://www.shop.test/"},
          {"リンク/Mountain 🏔.url", "http://www.yamabiko.test/"},
          {"Weather.url", "http://weather.test/"},
          {"News.url", "http://news.example.test/"}}) {
        const std::filesystem::path path = shortcuts / std::filesystem::path(file);
        (void)ForceDirectories(path.parent_path());
        (void)WriteTestFile(path, std::string("[InternetShortcut]\r\nURL=") + url + "\r\n");
    }
    const std::filesystem::path data = std::filesystem::path(TARNHOLD_TEST_DATA) / "favorites";
    TfrmImportFavorites import(store, prompts);
    import.SetSources(
        {{TImportKind::Shortcuts, shortcuts, {}, "user"},
         {TImportKind::Chromium, data / "chromium" / "Bookmarks", "Chromium", "Default"},
         { TImportKind::Firefox,
           data / "firefox" / "places.sqlite",
           "Firefox",
           "abcd1234.default-esr" }});
    const char* names[] = {"importfavorites-shortcuts", "importfavorites-chromium",
                           "importfavorites-firefox"};
    for (int i = 0; i < 3; ++i) {
        auto* sources = import.findChild<QComboBox*>(QStringLiteral("cmbSource"));
        sources->setCurrentIndex(i);
        import.show();
        import.Fill();
        // One folder partly chosen: its first shortcut that can change.
        QTreeWidgetItem* top = import.Tree()->topLevelItem(0);
        for (int k = 0; top != nullptr && k < top->childCount(); ++k) {
            if (TfrmImportFavorites::StateOf(top->child(k)) != isRegistered) {
                import.Toggle(top->child(k));
                break;
            }
        }
        Shoot(import, names[i]);
    }

    // The find window: each page of its criteria, a search with its hits,
    // and the folder chooser.
    {
        TfrmFind find(nullptr, ToPath(temp.path()) / "find.dat");
        find.SetPrompts(&prompts);
        find.SetLocation(tree.get(), "");
        find.show();
        auto* pages = find.findChild<QTabWidget*>(QStringLiteral("pgcFind"));
        const char* names[] = {"find-page-name", "find-page-date", "find-page-type",
                               "find-page-size"};
        for (int page = 0; page < 4; ++page) {
            pages->setCurrentIndex(page);
            Shoot(find, names[page]);
            find.show();
        }
        pages->setCurrentIndex(0);
        find.StartSearch();
        QElapsedTimer waited;
        waited.start();
        while (find.Searching() && waited.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        Shoot(find, "find-results");
        TfrmBrowse& browse = find.BrowseDialogMade();
        browse.Prepare(*tree, QStringLiteral("http://www.example.co.jp/docs/"));
        Shoot(browse, "find-browse");
    }

    ShootMessage(QMessageBox::Warning, QStringLiteral("拡張子チェック"),
                 QStringLiteral("拡張子の最初の文字は、'.' でなければなりません。"),
                 "message-extension");
    ShootMessage(QMessageBox::Critical, ToQString(CopyFailureCaption(TCopyFailureKind::CopyFile)),
                 MessageText(CopyFailureText(
                     TCopyFailureKind::CopyFile, "/cache/Content.IE5/X1/index[1].htm",
                     "/home/user/Tarnhold/www.example.co.jp/docs/index.html", ENOSPC)),
                 "message-copyfailure");
    return failed == 0 ? 0 : 1;
}
