// The properties of cache nodes, in the manner of a file manager's
// properties window: for one node its name, type, place, size, cached file,
// URL, time and stored response headers; for several their numbers, whether
// they share a place and a type, and their total size. The window only
// shows; it is not modal, it owns its list of nodes (not the nodes) and it is
// freed when it is closed. It is filled once, when first shown, and does not
// follow later changes of the tree.
#pragma once

#include "platform/event.h"

#include <QDialog>
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace tarnhold {
class TWebCacheTreeNode;
}

namespace tarnhold::gui {

// Where a node stands: the names from the top level down to it, each
// followed by "/" ("//" after a scheme folder's "http:"); "Web Cache" for
// the root; empty for no node. ANSI.
std::string LocationText(const TWebCacheTreeNode* node);
// "1,234,567": the byte count with thousands separators.
std::string FormatThousands(std::uint64_t value);

class TfrmProperty : public QDialog {
    Q_OBJECT
public:
    TfrmProperty(QWidget* owner, std::vector<TWebCacheTreeNode*> nodes);

    // Fills the window from the nodes; showing it does this once, and so
    // does the first change of their tree, before it moves or frees them.
    // Once filled, the window keeps no node references.
    void Fill();

    // How many nodes the window describes.
    std::size_t NodeCount() const { return nodeCount_; }

    // What the window shows, for tests and screenshots.
    QString NameText() const;
    QString TypeText() const;
    QString LocationValue() const;
    QString SizeText() const;
    QString CacheNameText() const;
    QString UrlText() const;
    QString DateText() const;
    QString HeadersText() const;
    bool DetailsShown() const;
    // Whether the icon shown is the window's own (no type icon was set).
    bool ShowsBuiltInIcon() const { return builtInIcon_; }
    QImage IconImage() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillOne(const TWebCacheTreeNode& node);
    void FillSeveral();
    void SetIcon(const QIcon& icon);

    std::vector<TWebCacheTreeNode*> nodes_;
    std::size_t nodeCount_ = 0;
    tarnhold::TSubscription treeChanging_;
    bool filled_ = false;
    bool builtInIcon_ = true;
    QTabWidget* tabs_;
    QLabel* imgIcon_;
    QLabel* txtName_;
    QLabel* txtType_;
    QLabel* txtLocation_;
    QLabel* txtSize_;
    QWidget* pnlDetails_;
    QLabel* txtCacheName_;
    QPlainTextEdit* memUrl_;
    QLabel* txtDate_;
    QPlainTextEdit* memHeaders_;
    QPushButton* btnClose_;
};

} // namespace tarnhold::gui
