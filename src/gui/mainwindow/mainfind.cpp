// The main window's find command: "検索(&F)..." (Ctrl+F) in the tools menu,
// on the tool bar and on the context menus opens the find window once for
// each folder selected, or for the cache folder of the selected favorite;
// the views catch up with what the find window deleted.
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "favorites/favoritespanel.h"
#include "find/find.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "tree/webcachetree.h"

#include <QAction>

namespace tarnhold::gui {

void TMainCommands::CreateFindCommand() {
    actCacheFind->setVisible(true);
    connect(actCacheFind, &QAction::triggered, this, &TMainCommands::actCacheFindExecute);
}

TfrmFind& TMainCommands::FindWindow() {
    if (FindWindow_ == nullptr) {
        FindWindow_ = new TfrmFind(Window_, DataFolder_ / "find.dat");
        FindWindow_->OnTreeChanged = [this] {
            Views_.Tree->RebuildIfEmptied();
            Views_.List->RefreshIfEmptied();
            lvwCacheSelectItem();
            UpdateStatusText();
        };
    }
    FindWindow_->SetPrompts(&Prompts());
    return *FindWindow_;
}

std::vector<TWebCacheTreeNode*> TMainCommands::FindFolders() const {
    std::vector<TWebCacheTreeNode*> folders;
    if (Focus_ == TFocusView::Favorites) {
        const std::vector<const TFavoriteItem*> selected = Views_.Favorites->SelectedFavorites();
        if (!selected.empty()) {
            if (TWebCacheTreeNode* folder = Tree_.FindFolderByUrl(selected.front()->UrlName))
                folders.push_back(folder);
        }
        return folders;
    }
    for (TWebCacheTreeNode* node : Selection()) {
        if (node->IsFolder)
            folders.push_back(node);
    }
    return folders;
}

void TMainCommands::actCacheFindExecute() {
    if (Busy_)
        return;
    // The folders' URLs now: a deletion in one showing may take a later
    // folder away, which the window then reports as not there.
    std::vector<std::string> urls;
    for (const TWebCacheTreeNode* folder : FindFolders())
        urls.push_back(folder->DirUrl());
    if (urls.empty())
        return;
    TfrmFind& find = FindWindow();
    for (const std::string& url : urls) {
        find.SetLocation(&Tree_, url);
        find.exec();
    }
    Views_.Tree->RebuildIfEmptied();
    Views_.List->RefreshIfEmptied();
    lvwCacheSelectItem();
    UpdateStatusText();
}

} // namespace tarnhold::gui
