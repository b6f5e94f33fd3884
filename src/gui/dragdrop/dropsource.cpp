#include "dragdrop/dropsource.h"

#include "app/qtconvert.h"

#include <QUrl>

namespace tarnhold::gui {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnomeFiles = QStringLiteral("x-special/gnome-copied-files");
const QString kKdeCut = QStringLiteral("application/x-kde-cutselection");

} // namespace

QStringList FileListFormats() {
    return {kUriList, kGnomeFiles, kKdeCut};
}

QByteArray EncodeFileList(const QString& format, const std::vector<std::filesystem::path>& files) {
    QByteArray data;
    if (format == kUriList) {
        // RFC 2483: one URI per line, each line ended by CR LF.
        for (const auto& file : files)
            data += ToFileUrl(file).toEncoded() + "\r\n";
    } else if (format == kGnomeFiles) {
        data = "copy";
        for (const auto& file : files)
            data += '\n' + ToFileUrl(file).toEncoded();
    } else if (format == kKdeCut) {
        data = "0";
    }
    return data;
}

QMimeData* FileListMimeData(const std::vector<std::filesystem::path>& files) {
    auto* data = new QMimeData;
    for (const QString& format : FileListFormats())
        data->setData(format, EncodeFileList(format, files));
    return data;
}

TDropFileSource::TDropFileSource(TCopy copy) : copy_(std::move(copy)) {}

QStringList TDropFileSource::formats() const {
    return FileListFormats();
}

bool TDropFileSource::hasFormat(const QString& format) const {
    return FileListFormats().contains(format);
}

const std::vector<std::filesystem::path>& TDropFileSource::Files() const {
    static const std::vector<std::filesystem::path> none;
    return files_ ? *files_ : none;
}

void TDropFileSource::Run() const {
    // The copy processes events (its progress frame); a request that arrives
    // meanwhile gets nothing rather than a second copy.
    if (ran_ || running_ || !copy_)
        return;
    running_ = true;
    files_ = copy_();
    running_ = false;
    ran_ = true;
}

QVariant TDropFileSource::retrieveData(const QString& format, QMetaType type) const {
    if (!hasFormat(format))
        return {};
    Run();
    if (!files_ || files_->empty())
        return {};
    if (format == QStringLiteral("text/uri-list") && type.id() == QMetaType::QVariantList) {
        QVariantList urls;
        for (const auto& file : *files_)
            urls.append(ToFileUrl(file));
        return urls;
    }
    return EncodeFileList(format, *files_);
}

} // namespace tarnhold::gui
