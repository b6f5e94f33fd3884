// TfrmBrowse, "フォルダの参照": the find window's choice of the folder to
// search, on a folder tree of the cache. Made once and kept: the tree is
// filled at the first showing and reused after (it follows the cache tree's
// deletions as every tree view does; a refresh empties it, and the next
// showing fills it again).
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <string_view>

namespace tarnhold {
class TWebCacheTree;
}

namespace tarnhold::gui {

class TCacheTreeView;

class TfrmBrowse : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBrowse(QWidget* owner);

    // Shows the dialog modally over tree with location (a folder URL, or
    // "Web Cache" or empty for the whole cache) selected; true with the
    // folder chosen in result when the user said OK.
    bool Execute(TWebCacheTree& tree, const QString& location, QString& result);
    // What Execute does before the dialog runs: the tree filled (once), all
    // collapsed but the root, the location selected, the tree focused.
    void Prepare(TWebCacheTree& tree, const QString& location);
    // The selected folder's URL; "Web Cache" for the root.
    QString Result() const;

    TCacheTreeView* TreeView() const { return tvwFolders; }

private:
    TCacheTreeView* tvwFolders = nullptr;
};

} // namespace tarnhold::gui
