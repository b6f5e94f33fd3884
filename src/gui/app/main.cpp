// tarnhold: the window. Finds the cache (--cache PATH, $TARNHOLD_CACHE, a
// Wine prefix, the user's browser caches, else the demo cache), makes the tree
// and the favorites store over the data folder and hands them to the main
// window.
#include "app/appicon.h"
#include "app/japanese.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/property.h"
#include "platform/appfolder.h"
#include "sources/cachelocation.h"
#include "sources/opencache.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

using namespace tarnhold;
using namespace tarnhold::gui;

namespace {

// The window on the demo cache's main site (another cache's first host), in the details view and
// with large icons, its context menus, the edit menu and a properties window. Nothing is saved in
// the data folder.
int SaveScreenshots(TfrmMain& window, const std::filesystem::path& dir) {
    TMainCommands& commands = window.Commands();
    TCacheTreeView& tree = *commands.Views().Tree;
    TCacheListView& list = *commands.Views().List;
    tree.SelectPath("http://www.yamabiko.test/");
    // Another cache: its first host.
    if (tree.SelectedPath() != "http://www.yamabiko.test/") {
        QTreeWidgetItem* item = tree.RootItem();
        for (int level = 0; level < 2 && item != nullptr; ++level) {
            tree.expandItem(item); // a folder's items are made when it opens
            if (item->childCount() == 0)
                break;
            item = item->child(0);
        }
        if (item != nullptr)
            tree.setCurrentItem(item);
    }
    QCoreApplication::processEvents();
    int failed = 0;
    const auto write = [&](QWidget& widget, const char* name) {
        QCoreApplication::processEvents();
        const QString file = PathToQString(dir / name);
        if (!widget.grab().save(file, "PNG")) {
            std::fprintf(stderr, "tarnhold: %s cannot be written\n",
                         file.toLocal8Bit().constData());
            ++failed;
        }
    };
    const auto menu = [&](QMenu* shown, const char* name) {
        shown->popup(window.mapToGlobal(QPoint(200, 150)));
        write(*shown, name);
        shown->hide();
    };
    write(window, "main-details.png");

    menu(commands.PrepareTreeMenu(tree.currentItem()), "main-menu-tree.png");
    const auto properties = [&](const char* name) {
        commands.Action("actFileShowProperty")->trigger();
        for (TfrmProperty* shown : window.findChildren<TfrmProperty*>()) {
            write(*shown, name);
            delete shown;
        }
    };
    properties("main-property-host.png");
    list.CurrentView()->setFocus();
    menu(commands.PrepareListMenu(), "main-menu-list-none.png");
    list.SelectAll();
    menu(commands.PrepareListMenu(), "main-menu-list-selected.png");
    properties("main-property-rows.png");
    menu(window.menuBar()->actions().value(1)->menu(), "main-menu-edit.png");
    // The favorites' menu with the first favorite selected.
    if (auto* favorites = window.findChild<QTreeWidget*>(QStringLiteral("lvwFavorites"));
        favorites != nullptr && favorites->topLevelItemCount() > 0) {
        favorites->setCurrentItem(favorites->topLevelItem(0));
        favorites->setFocus();
    }
    menu(window.menuBar()->actions().value(3)->menu(), "main-menu-favorites.png");

    commands.Action("actListLargeIcon")->trigger();
    write(window, "main-largeicons.png");
    return failed == 0 ? 0 : 1;
}

// The window's options.
struct TOptions {
    QCommandLineParser Parser;
    QCommandLineOption Cache{QStringLiteral("cache"),
                             QString::fromUtf8("読むキャッシュ: index.dat、それを含むフォルダ、"
                                               "またはその上のフォルダ、ブラウザのキャッシュ"),
                             QStringLiteral("PATH")};
    // For scripts/screenshot: pictures of the window instead of a session.
    QCommandLineOption Shot{QStringLiteral("screenshot"), QString(), QStringLiteral("DIR")};
    QCommandLineOption Help = Parser.addHelpOption();
    QCommandLineOption Version = Parser.addVersionOption();

    TOptions() {
        Parser.setApplicationDescription(QString::fromUtf8(
            "ブラウザのキャッシュ (Internet Explorer の index.dat、Chromium、Firefox) "
            "を表示し、サイトを取り出します。"));
        Parser.addOption(Cache);
        Shot.setFlags(QCommandLineOption::HiddenFromHelp);
        Parser.addOption(Shot);
    }
};

// The window is Japanese whatever the locale: so are the standard buttons
// of its message boxes and dialogs, and the help of its options.
void InstallQtTranslation(QTranslator& qtbase) {
    if (qtbase.load(QStringLiteral("qtbase_ja"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtbase);
}

// The help and the version are answered before the window's platform starts,
// so that they need no display: Qt prints them and ends the program.
void AnswerHelpWithoutWindow(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    TOptions options;
    // Qt's own options (-platform, -style) are unknown here; the
    // application takes them, and mistakes are said, once it has started.
    (void)options.Parser.parse(arguments);
    if (!options.Parser.isSet(options.Help) && !options.Parser.isSet(options.Version) &&
        !arguments.contains(QStringLiteral("--help-all")))
        return;
    QCoreApplication app(argc, argv);
    QTranslator qtbase;
    InstallQtTranslation(qtbase);
    TOptions translated; // the option texts in the window's language
    translated.Parser.process(app);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("tarnhold"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNHOLD_VERSION));
    AnswerHelpWithoutWindow(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnhold"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarnhold"), AppIcon()));
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
    QTranslator qtbase;
    InstallQtTranslation(qtbase);

    TOptions options;
    options.Parser.process(app);

    std::optional<std::filesystem::path> named;
    if (options.Parser.isSet(options.Cache))
        named = ToPath(options.Parser.value(options.Cache));
    const std::filesystem::path demo =
        FindDemoCache(TARNHOLD_INSTALLED_DEMO_CACHE, TARNHOLD_DEMO_CACHE);
    const TCacheLocation where = LocateCache(named, demo);

    std::unique_ptr<TCacheSource> source;
    QString problem;
    TFoundCache current;
    if (where.Error) {
        problem = JapaneseText(where.Error.Text());
    } else {
        // The caption names the kind of cache even when it cannot be read.
        current.Kind = where.Kind;
        TError error;
        source = OpenCacheSourceAt(where.Path, where.Kind, &error);
        if (!source) {
            problem = JapaneseText(error.Text());
        } else {
            // The chooser knows an index.dat cache by its folder.
            current.Folder = where.Path;
            if (where.Kind == TCacheKind::ckIndexDat &&
                PathToQString(where.Path.filename())
                        .compare(QStringLiteral("index.dat"), Qt::CaseInsensitive) == 0)
                current.Folder = where.Path.parent_path();
            current.Description = where.Description;
        }
    }

    const std::filesystem::path data = GetAppFolder();
    const bool opened = source != nullptr;
    TWebCacheTree tree(std::move(source));
    // Each cache has its own rename list; without a cache there is none.
    if (opened)
        tree.SetRenameListFor(data, CacheIdentityPath(where.Path, where.Kind));
    tree.SetContentTypeFile(data / "contentType.dat");
    TFavorites favorites;
    const TError favoritesError = favorites.SetFileName(data / "favorites.dat");

    TfrmMain window(tree, favorites, data);
    // The window adds what could not be read of the cache's rename list.
    if (problem.isEmpty())
        problem = DataFileProblem(QStringLiteral("contentType.dat"), tree.ContentTypeRead());
    if (problem.isEmpty() && favoritesError && favoritesError.Code() != ENOTDIR)
        problem = JapaneseText(favoritesError.Text());
    window.Commands().SetCacheProblem(problem);
    window.Commands().SetCurrentCache(current);
    window.Commands().FindCaches = [demo] { return FindAllCaches(demo); };
    window.Start();
    if (options.Parser.isSet(options.Shot))
        return SaveScreenshots(window, ToPath(options.Parser.value(options.Shot)));
    const int result = QApplication::exec();
    // The tree saves the rename list and contentType.dat as it goes.
    (void)tree.SaveDataFiles();
    return result;
}
