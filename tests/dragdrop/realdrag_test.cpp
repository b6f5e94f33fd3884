// Real drags on a real X server (an Xvfb of the test's own), driven by
// xdotool: out of the window into another program, and from another program
// onto the window's views, which refuse.
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/copy_test_helpers.h"
#include "favorites/favorites.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainwindow.h"
#include "support/cache_test_helpers.h"
#include "tree/webcachetree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

// Why the real drags cannot run here (no Xvfb or no xdotool); empty: they can.
std::string gUnavailable;

class TRecordingPrompts : public TGuiPrompts {
public:
    QMessageBox::StandardButton ShowMessage(const QString& caption, const QString& text,
                                            QMessageBox::Icon,
                                            QMessageBox::StandardButtons) override {
        Messages.push_back(caption + QLatin1Char('|') + text);
        return QMessageBox::Ok;
    }
    std::vector<QString> Messages;
};

// The window on a small site whose pages link to each other, at the top left
// of the screen; the other program's window lies at (700, 100), 400 x 400.
struct TScreen {
    TScreen() {
        Site.Add("http://www.a.test/docs/one.html",
                 "<html><body><a href=\"two.html\">two</a> <img src=\"pic.gif\"> "
                 "<a href=\"deep/three.html\">three</a></body></html>",
                 "text/html", 5);
        Site.Add("http://www.a.test/docs/two.html", "<p><a href=\"one.html\">one</a></p>",
                 "text/html", 5);
        Site.Add("http://www.a.test/docs/pic.gif", "GIF89a-picture", "image/gif", 5);
        Site.Add("http://www.a.test/docs/deep/three.html", "<p><a href=\"../one.html\">1</a></p>",
                 "text/html", 6);
        Site.Add("http://www.a.test/docs/deep/pic.gif", "GIF89a-deeper", "image/gif", 6);
        Site.Add("http://www.b.test/pic.gif", "GIF89a-other", "image/gif", 9);
        Tree = Site.Tree(true);
        Tree->SetContentTypeFile(Home.Path() / "contentType.dat");
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path());
        Parts().Commands().SetPrompts(&Prompts);
        Window->Start();
        Window->setGeometry(0, 0, 640, 480);
        Window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
        Window->activateWindow();
        QApplication::processEvents();
    }
    test::TMainWindowParts Parts() const { return test::TMainWindowParts(*Window); }
    void Select(const char* path) {
        QTreeWidgetItem* item = Parts().Tree()->FindItemByPath(path);
        ASSERT_NE(item, nullptr) << path;
        Parts().Tree()->setCurrentItem(item);
        Parts().Tree()->scrollToItem(item);
        QApplication::processEvents();
    }
    QPoint RowOnScreen(const std::string& name) {
        TCacheListView* list = Parts().List();
        for (int row = 0; row < list->Model()->Count(); ++row)
            if (list->Model()->NodeAt(row)->DisplayName() == name) {
                QAbstractItemView* view = list->CurrentView();
                return view->viewport()->mapToGlobal(
                    view->visualRect(list->Model()->index(row, 0)).center());
            }
        ADD_FAILURE() << name;
        return {};
    }

    tarnhold::test::TTempDir Home;
    tarnhold::test::TSiteFixture Site;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    TRecordingPrompts Prompts;
    std::unique_ptr<TfrmMain> Window;
};

// The other program, started with args; waits until its window is shown.
class TOtherProgram {
public:
    TOtherProgram(const fs::path& out, const QStringList& more = {}) : out_(out) {
        process_.start(QStringLiteral(TARNHOLD_DROPWINDOW), QStringList{PathToQString(out)} + more);
        EXPECT_TRUE(WaitFor(fs::path(out.string() + ".ready"))) << "the drop window did not show";
    }
    ~TOtherProgram() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Waits, with the event loop running, until file appears.
    static bool WaitFor(const fs::path& file, int ms = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!fs::exists(file) && clock.elapsed() < ms)
            QTest::qWait(50);
        return fs::exists(file);
    }

private:
    fs::path out_;
    QProcess process_;
};

// Runs xdotool in the background: press at from, move there in steps, let go.
void DragWithXdotool(QProcess& xdo, QPoint from, QPoint to) {
    QStringList args{QStringLiteral("mousemove"), QString::number(from.x()),
                     QString::number(from.y()),   QStringLiteral("sleep"),
                     QStringLiteral("0.3"),       QStringLiteral("mousedown"),
                     QStringLiteral("1")};
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + (to - from) * step / 8;
        args << QStringLiteral("sleep") << QStringLiteral("0.15") << QStringLiteral("mousemove")
             << QString::number(at.x()) << QString::number(at.y());
    }
    args << QStringLiteral("sleep") << QStringLiteral("0.5") << QStringLiteral("mouseup")
         << QStringLiteral("1");
    xdo.start(QStringLiteral("xdotool"), args);
}

// What the other program received: the formats offered and the files.
struct TReceived {
    QStringList Formats;
    std::vector<fs::path> Files;
};

TReceived ReadReceived(const fs::path& file) {
    TReceived received;
    const QString text =
        QString::fromUtf8(QByteArray::fromStdString(tarnhold::test::ReadFileBytes(file)));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QStringLiteral("formats: ")))
            received.Formats = line.mid(9).split(QLatin1Char(' '));
        else
            received.Files.push_back(ToPath(line));
    }
    return received;
}

// Every link of a copied page that names a neighbouring file names one that
// is there.
void ExpectLinksResolve(const fs::path& page) {
    const QString html =
        QString::fromUtf8(QByteArray::fromStdString(tarnhold::test::ReadFileBytes(page)));
    const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\"]+)\""));
    for (const auto& m : link.globalMatch(html)) {
        const QString target = m.captured(1);
        if (target.contains(QStringLiteral("://")))
            continue;
        EXPECT_TRUE(fs::exists(page.parent_path() / ToPath(target)))
            << page << " links to " << target.toStdString();
    }
}

// The files received are the copies the window made for the names dragged,
// in its temporary folder, with the cached bytes and pages whose links
// resolve. An X server that hands the target no data (Xvfb without a
// desktop does so even between two Qt programs) leaves the copies unmade:
// the drop then must not have copied anything either.
void ExpectCopies(TScreen& screen, const TReceived& received,
                  const std::vector<std::string>& names) {
    const fs::path temp = screen.Parts().Commands().TempFolder();
    if (received.Files.empty()) {
        std::printf("note: the X server gave the drop target no data\n");
        EXPECT_TRUE(temp.empty()) << "copied though the target asked for nothing";
        EXPECT_TRUE(screen.Prompts.Messages.empty());
        return;
    }
    ASSERT_FALSE(temp.empty());
    std::vector<fs::path> expected;
    for (const std::string& name : names)
        expected.push_back(temp / name);
    EXPECT_EQ(received.Files, expected);
    for (const auto& entry : fs::recursive_directory_iterator(temp)) {
        if (entry.path().extension() == ".html") {
            ExpectLinksResolve(entry.path());
        } else if (entry.path().extension() == ".gif") {
            EXPECT_EQ(tarnhold::test::ReadFileBytes(entry.path()).substr(0, 6), "GIF89a");
        }
    }
    EXPECT_TRUE(screen.Prompts.Messages.empty());
}

TEST(RealDrag, RowsAndAFolderReachAnotherProgramAsTheirCopies) {
    if (!gUnavailable.empty())
        GTEST_SKIP() << gUnavailable;
    TScreen screen;
    tarnhold::test::TTempDir out;
    TOtherProgram other(out.Path() / "rows");
    const QPoint target(900, 300);

    screen.Select("http://www.a.test/docs/");
    screen.Parts().List()->CurrentView()->setFocus();
    QItemSelectionModel* selection = screen.Parts().List()->SelectionModel();
    TCacheListModel* model = screen.Parts().List()->Model();
    for (int row = 0; row < model->Count(); ++row) {
        const std::string name = model->NodeAt(row)->DisplayName();
        if (name == "one.html" || name == "pic.gif")
            selection->select(model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QProcess xdo;
    // Press with Ctrl held would change the selection: the press lands on a
    // row already selected.
    DragWithXdotool(xdo, screen.RowOnScreen("one.html"), target);
    // A picture of the drag on its way, for looking at.
    if (const char* dir = std::getenv("TARNHOLD_SCREENSHOT_DIR"))
        QTimer::singleShot(1300, [dir] {
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QString::fromUtf8(dir) + QStringLiteral("/drag-in-progress.png"));
        });
    ASSERT_TRUE(TOtherProgram::WaitFor(out.Path() / "rows")) << "nothing was dropped";
    xdo.waitForFinished(5000);
    const TReceived rows = ReadReceived(out.Path() / "rows");
    for (const char* format : {"text/uri-list", "x-special/gnome-copied-files"})
        EXPECT_TRUE(rows.Formats.contains(QString::fromLatin1(format))) << format;
    ExpectCopies(screen, rows, {"one.html", "pic.gif"});

    // A folder from the tree.
    TOtherProgram again(out.Path() / "folder");
    screen.Select("http://www.a.test/docs/");
    screen.Parts().Tree()->setFocus();
    QApplication::processEvents();
    TCacheTreeView* tree = screen.Parts().Tree();
    const QPoint item = tree->viewport()->mapToGlobal(
        tree->visualItemRect(tree->FindItemByPath("http://www.a.test/docs/")).center());
    DragWithXdotool(xdo, item, target);
    ASSERT_TRUE(TOtherProgram::WaitFor(out.Path() / "folder")) << "nothing was dropped";
    xdo.waitForFinished(5000);
    ExpectCopies(screen, ReadReceived(out.Path() / "folder"), {"docs"});
}

TEST(RealDrag, DropsOntoTheViewsAreRefused) {
    if (!gUnavailable.empty())
        GTEST_SKIP() << gUnavailable;
    TScreen screen;
    screen.Select("http://www.a.test/docs/");
    tarnhold::test::TTempDir out;
    tarnhold::test::WriteFileBytes(out.Path() / "dragged.txt", "from elsewhere");
    const QPoint source(900, 300);
    struct TView {
        const char* name;
        std::function<QPoint()> where;
    } views[] = {
        {"the tree",
         [&] {
             QTreeWidget* tree = screen.Parts().Tree();
             return tree->viewport()->mapToGlobal(tree->viewport()->rect().center());
         }},
        {"the list in details", [&] { return screen.RowOnScreen("two.html"); }},
        {"the list in large icons",
         [&] {
             screen.Parts().Commands().Action("actListLargeIcon")->trigger();
             QApplication::processEvents();
             return screen.RowOnScreen("two.html");
         }},
    };
    // The same drag onto another program is taken: the drags work here.
    {
        const fs::path result = out.Path() / "control.action";
        TOtherProgram taker(out.Path() / "control.files",
                            {QStringLiteral("--at"), QStringLiteral("100")});
        TOtherProgram other(
            result, {QStringLiteral("--source"), PathToQString(out.Path() / "dragged.txt")});
        QProcess xdo;
        DragWithXdotool(xdo, source, QPoint(300, 300));
        ASSERT_TRUE(TOtherProgram::WaitFor(result)) << "the drag did not end";
        xdo.waitForFinished(5000);
        ASSERT_NE(tarnhold::test::ReadFileBytes(result), "0") << "no drop works here";
    }
    for (const TView& view : views) {
        SCOPED_TRACE(view.name);
        const fs::path result = out.Path() / (std::string(view.name) + ".action");
        TOtherProgram other(
            result, {QStringLiteral("--source"), PathToQString(out.Path() / "dragged.txt")});
        QProcess xdo;
        DragWithXdotool(xdo, source, view.where());
        ASSERT_TRUE(TOtherProgram::WaitFor(result)) << "the drag did not end";
        xdo.waitForFinished(5000);
        EXPECT_EQ(tarnhold::test::ReadFileBytes(result), "0") << "the drop was taken";
        EXPECT_EQ(screen.Tree->FindNodeByUrl("http://www.a.test/docs/dragged.txt"), nullptr);
    }
}

// An X server of the test's own: its display number, or -1.
pid_t gXvfb = -1;

std::string StartXvfb() {
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0)
        return "Xvfb is not installed";
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
        return "xdotool is not installed";
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    gXvfb = ::fork();
    if (gXvfb == 0) {
        // The server goes with the test, whatever ends it, and holds none of
        // the test's output open (CTest waits for that to close).
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
        return "Xvfb did not start";
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return {};
}

} // namespace
} // namespace tarnhold::gui

int main(int argc, char** argv) {
    using namespace tarnhold::gui;
    gUnavailable = StartXvfb();
    if (gUnavailable.empty())
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int code = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        code = RUN_ALL_TESTS();
    }
    if (gXvfb > 0) {
        ::kill(gXvfb, SIGTERM);
        ::waitpid(gXvfb, nullptr, 0);
    }
    return code;
}
