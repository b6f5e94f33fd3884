// What a drag out of the program, or a copy to the clipboard, hands to other
// programs: a list of ordinary local files (the copies of cache files in a
// temporary folder), offered as a URI list and in the forms the desktop's
// file managers read.
#pragma once

#include <QMimeData>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace tarnhold::gui {

// The formats a file list is offered in: "text/uri-list",
// "x-special/gnome-copied-files" (GNOME's and Xfce's file managers) and
// "application/x-kde-cutselection" (Dolphin: "0", a copy, not a cut).
QStringList FileListFormats();
// A file list in one of those formats; empty for any other format.
QByteArray EncodeFileList(const QString& format, const std::vector<std::filesystem::path>& files);
// The clipboard's data for files already made.
QMimeData* FileListMimeData(const std::vector<std::filesystem::path>& files);

// The data of a drag: the copies are made when the drop target first asks for
// the file list, not when the drag starts, so a drag that ends without a drop
// copies nothing. The copy runs once; a failed or cancelled copy gives the
// target nothing (and is not tried again for the same drag).
class TDropFileSource : public QMimeData {
    Q_OBJECT
public:
    // Makes the copies and gives their paths; nullopt when it failed or was
    // cancelled (the copy said why).
    using TCopy = std::function<std::optional<std::vector<std::filesystem::path>>()>;

    explicit TDropFileSource(TCopy copy);

    QStringList formats() const override;
    bool hasFormat(const QString& format) const override;

    // Whether the copy ran, and what it gave.
    bool Copied() const { return ran_; }
    bool Failed() const { return ran_ && !files_; }
    const std::vector<std::filesystem::path>& Files() const;

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override;

private:
    void Run() const;

    TCopy copy_;
    mutable bool ran_ = false;
    mutable bool running_ = false;
    mutable std::optional<std::vector<std::filesystem::path>> files_;
};

} // namespace tarnhold::gui
