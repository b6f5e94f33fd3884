#include "copy/favoritecopy.h"

#include "copy/deletenodes.h"
#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"

namespace tarnhold {

namespace {

// "http://host" and "http://host?x" name the host's folder, as a browser
// reads them; without this the folder of "http://" would be taken, which
// holds every site of the scheme.
std::string SiteUrl(std::string_view url) {
    const std::size_t host = SchemePrefixLength(url);
    if (host == 0)
        return std::string(url);
    const std::size_t end = url.find_first_of("/?#;", host);
    if (end != std::string_view::npos && url[end] == '/')
        return std::string(url);
    std::string site(url.substr(0, end == std::string_view::npos ? url.size() : end));
    site += '/';
    return site;
}

} // namespace

TWebCacheTreeNode* FavoriteFolder(const TWebCacheTree& tree, const TFavoriteItem& favorite) {
    TWebCacheTreeNode* folder = tree.FindFolderByUrl(SiteUrl(favorite.UrlName));
    if (folder == nullptr || folder == tree.Root())
        return nullptr;
    // With schemes the top folders are the schemes, each holding many sites.
    if (tree.EnableScheme() && folder->Parent() == tree.Root())
        return nullptr;
    return folder;
}

int CountFavoriteFiles(const TWebCacheTree& tree, const std::vector<TFavoriteItem*>& favorites) {
    int total = 0;
    for (const TFavoriteItem* favorite : favorites) {
        if (const TWebCacheTreeNode* folder = FavoriteFolder(tree, *favorite))
            total += tree.CountFiles(folder);
    }
    return total;
}

std::filesystem::path FavoriteLocalPage(TWebCacheTree& tree, const TFavoriteItem& favorite) {
    if (favorite.PathName.empty())
        return {};
    const std::string url = SiteUrl(favorite.UrlName);
    // Folder URLs name the favorite's own default file while it is looked at.
    const std::string oldDefault = tree.DefaultFileName;
    if (!favorite.Default.empty())
        tree.DefaultFileName = favorite.Default;
    TLocalNameTable names(tree);
    const TWebCacheTreeNode* node = names.Find(url);
    TLocalPath path = node != nullptr ? NodeLocalPath(node) : names.WouldBePath(url);
    if (favorite.Folder == fdBelowUrl) {
        // The save folder stands for the favorite's URL folder.
        TLocalPath prefix;
        if (const TWebCacheTreeNode* folder = FavoriteFolder(tree, favorite)) {
            prefix = NodeLocalPath(folder);
        } else {
            std::string dir;
            SplitURL(url, &dir, nullptr, nullptr);
            prefix = names.WouldBePath(dir);
            prefix.pop_back(); // the default file
        }
        path = PlaceBelow(std::move(path), prefix);
    }
    tree.DefaultFileName = oldDefault;
    std::filesystem::path out = AnsiToPath(favorite.PathName);
    for (const std::string& part : path)
        out /= part;
    return out;
}

TFavoriteCopyResult CopyFavoritesToLocal(TWebCacheTree& tree, TCopyEngine& engine,
                                         TFavorites& store,
                                         const std::vector<TFavoriteItem*>& favorites,
                                         const TFavoriteCopyOptions& options) {
    TFavoriteCopyResult result;
    if (engine.Progress() != nullptr)
        engine.Progress()->SetMaximum(CountFavoriteFiles(tree, favorites));

    // The copy of one favorite names folder URLs with its own default file
    // name, unless it is the one the views show, whose name is in force.
    const bool switchNames =
        favorites.size() > 1 || (favorites.size() == 1 && favorites[0] != options.Current);
    const std::string oldDefault = tree.DefaultFileName;

    TOverwriteAnswer answer = TOverwriteAnswer::Yes; // one answer for the whole command
    result.Done = true;
    for (TFavoriteItem* favorite : favorites) {
        if (favorite->PathName.empty()) {
            // Relative to the working folder is nowhere the user chose.
            result.Stop = TFavoriteCopyStop::NoSaveFolder;
            result.Stopped = favorite;
            result.Done = false;
            break;
        }
        // The folder and its files are looked up only now: a move of an
        // earlier favorite may have deleted nodes that this one holds too.
        TWebCacheTreeNode* folder = FavoriteFolder(tree, *favorite);
        if (folder == nullptr)
            result.NotCached.push_back(favorite);
        if (switchNames && folder != nullptr) {
            // A favorite without a default file name keeps the one in force:
            // an empty name would make the folder's own path the file's.
            tree.DefaultFileName = favorite->Default.empty() ? oldDefault : favorite->Default;
            tree.RenameDuplicates(folder);
        }

        TWebCacheTreeNodeCopyList list;
        if (folder != nullptr)
            AddFilesBelow(list, folder);
        TCopyOptions copy;
        copy.Destination = AnsiToPath(favorite->PathName);
        // The copy starts from the site's folder, named as the tree names it.
        copy.Prefix = folder != nullptr ? folder->DirUrl() : std::string();
        copy.PrefixFolder = folder;
        copy.Method = CopyMethodFromNumber(favorite->Method);
        copy.Folder = FolderMethodFromNumber(favorite->Folder);
        copy.AllLinks = favorite->AllLinks;
        if (!engine.CopyNodes(copy, answer, list)) {
            result.Stop = TFavoriteCopyStop::Copy;
            result.Stopped = favorite;
            result.Done = false;
            break;
        }
        ++result.Copied;

        TError deleteError;
        if (options.Move && folder != nullptr)
            result.FilesDeleted += DeleteCacheNodes(tree, {folder}, nullptr, &deleteError);

        // The copy is complete whether or not its cache entries could go.
        favorite->Date = CurrentLocalTime();
        TError saveError = store.UpdateItem(favorite);
        if (saveError && !result.SaveError)
            result.SaveError = std::move(saveError);

        if (deleteError) {
            result.Stop = TFavoriteCopyStop::Delete;
            result.Stopped = favorite;
            result.DeleteError = std::move(deleteError);
            result.Done = false;
            break;
        }
    }

    if (switchNames) {
        tree.DefaultFileName = oldDefault;
        TWebCacheTreeNode* shown =
            options.Current != nullptr ? FavoriteFolder(tree, *options.Current) : nullptr;
        tree.RenameDuplicates(shown != nullptr ? shown : tree.Root());
    }
    return result;
}

} // namespace tarnhold
