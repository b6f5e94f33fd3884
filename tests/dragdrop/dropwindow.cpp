// Another program for the drag tests, at a fixed place on the screen:
//   tarnhold-dropwindow OUT            takes drops of files and writes the
//                                      formats offered ("formats: ...") and
//                                      the files' paths to OUT, one per line
//   tarnhold-dropwindow OUT --source F drags the file F when pressed and
//                                      writes the action the drop took to OUT
//   ... --at X                         puts the window at (X, 100) instead of
//                                      (700, 100)
// OUT.ready appears once the window is on the screen.
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace {

void WriteAll(const QString& file, const QByteArray& bytes) {
    // Whole or not at all: the test reads as soon as the file is there.
    QFile out(file + QStringLiteral(".part"));
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return;
    out.close();
    QFile::rename(file + QStringLiteral(".part"), file);
}

class TDropWindow : public QWidget {
public:
    TDropWindow(QString out, QString source) : out_(std::move(out)), source_(std::move(source)) {
        setAcceptDrops(source_.isEmpty());
        setWindowTitle(QStringLiteral("drop window"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls())
            event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        QByteArray lines =
            "formats: " + event->mimeData()->formats().join(QLatin1Char(' ')).toUtf8() + '\n';
        for (const QUrl& url : event->mimeData()->urls())
            lines += url.toLocalFile().toUtf8() + '\n';
        event->acceptProposedAction();
        WriteAll(out_, lines);
    }
    void mousePressEvent(QMouseEvent*) override {
        if (source_.isEmpty())
            return;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(source_)});
        QDrag drag(this);
        drag.setMimeData(data);
        const Qt::DropAction action = drag.exec(Qt::CopyAction | Qt::MoveAction);
        WriteAll(out_, QByteArray::number(static_cast<int>(action)));
    }
    void showEvent(QShowEvent*) override {
        QTimer::singleShot(200, this, [this] { WriteAll(out_ + QStringLiteral(".ready"), "1"); });
    }

private:
    QString out_;
    QString source_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2)
        return 2;
    QString source;
    int x = 700;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--source"))
            source = args[i + 1];
        else if (args[i] == QStringLiteral("--at"))
            x = args[i + 1].toInt();
    }
    TDropWindow window(args[1], source);
    window.setGeometry(x, 100, 400, 400);
    window.show();
    return QApplication::exec();
}
