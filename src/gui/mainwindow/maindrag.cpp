// Drags out of the cache views and the clipboard copy: what they carry, and
// the copies in the temporary folder that both hand to other programs.
#include "app/prompts.h"
#include "copy/copyengine.h"
#include "copy/progressframe.h"
#include "dragdrop/dragstarter.h"
#include "dragdrop/dropsource.h"
#include "dragdrop/tempcopies.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "tree/webcachetree.h"

#include <QDrag>
#include <QListView>
#include <QTreeView>

namespace tarnhold::gui {

namespace {

// Events are processed after this many copied files.
constexpr int kTempCopyEventsEvery = 10;

} // namespace

TMainCommands::TDragNodes TMainCommands::CollectDragNodes() const {
    TDragNodes drag;
    if (Focus_ != TFocusView::Tree) {
        drag.Nodes = Views_.List->SelectedNodes();
        drag.PrefixFolder = Tree_.FindNodeByUrl(Views_.List->CurrentFolder());
    } else if (TWebCacheTreeNode* node = Views_.Tree->SelectedNode()) {
        // The root of the whole cache stands for every folder below it,
        // laid out with their full URL paths.
        if (node == Tree_.Root() && CurrentFavorite_ == nullptr) {
            for (int i = 0; i < node->Count(); ++i)
                drag.Nodes.push_back(node->Items(i));
        } else {
            drag.Nodes.push_back(node);
            drag.PrefixFolder = node->Parent();
        }
    }
    return drag;
}

std::optional<std::vector<std::filesystem::path>>
TMainCommands::CopyToTemp(const TDragNodes& drag) {
    if (drag.Nodes.empty() || Busy_)
        return std::nullopt;
    const std::filesystem::path temp = TTempCopies::NewFolder(Prompts());
    if (temp.empty())
        return std::nullopt;
    TGuiCopyPrompts prompts(Prompts());
    bool copied = false;
    // Each node's copy lies below the folder where the engine put it, under
    // the name it gave it on disk.
    std::vector<std::filesystem::path> places;
    RunFramed(CopyToTempText(), kTempCopyEventsEvery, [&](TProgress& progress) {
        TCopyEngine engine(Tree_, &prompts, &progress);
        TCopyOptions where;
        where.Destination = temp;
        where.PrefixFolder = drag.PrefixFolder;
        where.Prefix = drag.PrefixFolder != nullptr ? drag.PrefixFolder->DirUrl() : std::string();
        where.Folder = TFolderMethod::BelowPrefix;
        copied = tarnhold::CopyToFolder(engine, drag.Nodes, where);
        for (const TWebCacheTreeNode* node : drag.Nodes)
            places.push_back(engine.LocalPathOf(where, node));
    });
    // The engine said why when nothing was copied.
    return TempCopies_.Keep(temp, std::move(places), copied);
}

void TMainCommands::RunDrag(QWidget* view) {
    const TDragNodes drag = CollectDragNodes();
    if (drag.Nodes.empty() || Busy_ || Dragging_)
        return;
    // The nodes stay valid while the tree is not rebuilt; a drop that comes
    // after a rebuild gets nothing.
    const auto generation = Tree_.Generation();
    auto* data = new TDropFileSource([this, drag, generation]() {
        if (Tree_.Generation() != generation)
            return std::optional<std::vector<std::filesystem::path>>();
        return CopyToTemp(drag);
    });
    Dragging_ = true;
    if (DragHook) {
        DragHook(data);
        delete data;
    } else {
        auto* qdrag = new QDrag(view);
        qdrag->setMimeData(data);
        qdrag->exec(Qt::CopyAction, Qt::CopyAction);
        qdrag->deleteLater();
    }
    Dragging_ = false;
}

void TMainCommands::AttachDrags() {
    TCacheTreeView* tree = Views_.Tree;
    RefuseDrops(tree);
    // In the tree a drag starts only on its selected item, and not when the
    // tree holds the root alone.
    new TDragStarter(
        tree,
        [this, tree](const QPoint& pressed) {
            return !Busy_ && tree->topLevelItemCount() > 0 &&
                   (tree->topLevelItem(0)->childCount() > 0 || tree->topLevelItemCount() > 1) &&
                   tree->itemAt(pressed) != nullptr && tree->itemAt(pressed) == tree->currentItem();
        },
        [this, tree]() { RunDrag(tree); });
    TCacheListView* list = Views_.List;
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list->DetailsView()),
                                    static_cast<QAbstractItemView*>(list->IconView())}) {
        RefuseDrops(view);
        new TDragStarter(
            view,
            // A press on a row (which selects it); a press beside the rows
            // draws a selection frame instead.
            [this, view](const QPoint& pressed) {
                return !Busy_ && view->indexAt(pressed).isValid();
            },
            [this, view]() { RunDrag(view); });
    }
}

} // namespace tarnhold::gui
