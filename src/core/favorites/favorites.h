// The favorites store: the registered sites with their save folders, default
// file names and copy options, kept in "favorites.dat" in the data folder.
//
// "favorites.dat" is a profile (INI) file:
//   [Favorites]        Count
//   [FavoriteDefault]  UrlName PathName Default Title Folder Method Timer AllLinks
//   [Favorite0001] ... UrlName PathName Default Title Folder Method Timer Date
//                      AllLinks
// Sections are numbered from 1, zero-padded to four digits. Saving never
// erases a section: after a deletion the highest-numbered old section stays
// in the file and is ignored because "Count" no longer reaches it.
// Symbolic links are written through, and the file keeps its permissions.
//
// Everything here runs on the thread that owns the store (the window thread).
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// How the local folder tree of a copy is laid out.
enum : std::uint8_t {
    fdBelowUrl = 1, // the favorite's URL folder is the save folder; only folders below it are made
    fdWholeUrl = 2, // host and the whole path of each URL are made below the save folder
};
// Which referenced files are copied with the pages.
enum : std::uint8_t {
    mtBelowUrl = 1,   // only those below the favorite's URL
    mtSameDomain = 2, // also those of the same host
    mtAll = 3,        // all
};

struct TFavoriteItem {
    std::string UrlName;  // site start page or folder URL (ANSI)
    std::string PathName; // local save folder, ending with "/" when set by the dialog
    std::string Default;  // file name for URLs that name a folder
    std::string Title;
    std::uint8_t Folder = fdWholeUrl;
    std::uint8_t Method = mtBelowUrl;
    bool Timer = false; // stored and carried, never acted on
    // Copies rewrite and collect every kind of link (srcset, style sheets,
    // ...); off: only href, src and background. A file without the key reads on.
    bool AllLinks = true;
    SYSTEMTIME Date{}; // registration / latest copy, local time; all zero = unset
};

// "2026/12/07 7:05:09"; an unset or impossible date gives an empty text.
std::string DateToText(const SYSTEMTIME& date);
// The inverse of DateToText (seconds may be left out). An empty text, or one
// that is not such a date, gives an unset date.
SYSTEMTIME TextToDate(std::string_view text);
bool IsDateUnset(const SYSTEMTIME& date);

// The columns of the favorites list and their sort keys.
enum : std::uint8_t { fsTitle = 0, fsUrl = 1, fsDate = 2 };
// Row order of the favorites list: column 0 title then URL, column 1 URL then
// title, column 2 the newest date first, then title, then URL; text ignoring
// case. Order 1 reverses. <0, 0, >0.
int CompareFavorites(const TFavoriteItem& a, const TFavoriteItem& b, int column, int order);

// The date column of an item's row (beside title and URL): the date without
// seconds, empty when unset.
std::string FavoriteDateColumn(const TFavoriteItem& item);

// What the store tells the list that shows it. Rows are identified by their
// item; the view holds references only.
class TFavoritesView {
public:
    virtual ~TFavoritesView() = default;
    virtual void ClearRows() = 0;
    virtual void AddRow(const TFavoriteItem* item) = 0;
    // Rewrites the row's texts from the item; false when no row shows it.
    virtual bool UpdateRow(const TFavoriteItem* item) = 0;
    virtual void DeleteRow(const TFavoriteItem* item) = 0;
    // Sorts the rows; compare(a, b) < 0 puts a before b.
    virtual void
    SortRows(const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>& compare) = 0;
    // Clears the selection, selects and focuses the row and scrolls it into view.
    virtual void SelectRow(const TFavoriteItem* item) = 0;
};

class TFavorites {
public:
    TFavorites();
    ~TFavorites();
    TFavorites(const TFavorites&) = delete;
    TFavorites& operator=(const TFavorites&) = delete;

    // The path of "favorites.dat"; empty: no file, Load and Save do nothing.
    const std::filesystem::path& FileName() const { return FileName_; }
    // A different path is stored, loaded and shown. The result is Load's.
    [[nodiscard]] TError SetFileName(const std::filesystem::path& file);
    TFavoritesView* View() const { return View_; }
    void SetView(TFavoritesView* view);

    // Reads the file into DefaultItem and appends its favorites (the list is
    // not cleared). A missing file gives the defaults and no error; an
    // unreadable one (or one that is not a regular file) gives the defaults
    // and its error, and every Save fails with it, so it is never
    // overwritten. A damaged Count gives the favorites of every section the
    // file holds and an error (EBADMSG) that says so.
    [[nodiscard]] TError Load();
    // Writes the whole file. An error says why it could not be written.
    [[nodiscard]] TError Save();

    int Count() const { return static_cast<int>(Items_.size()); }
    TFavoriteItem* Items(int index) const { return Items_[static_cast<std::size_t>(index)].get(); }
    // The list position of an item of this store, or -1.
    int IndexOf(const TFavoriteItem* item) const;
    TFavoriteItem& DefaultItem() { return *DefaultItem_; }
    const TFavoriteItem& DefaultItem() const { return *DefaultItem_; }

    std::uint8_t SortType() const { return SortType_; }
    std::uint8_t SortOrder() const { return SortOrder_; }
    void SetSortType(std::uint8_t column);
    void SetSortOrder(std::uint8_t order);
    void SetSort(std::uint8_t order, std::uint8_t column);
    void RefreshView();
    void SortView();

    // Each of these saves at once; the item stays changed in memory when the
    // save fails, and the error says so.
    // Appends the item (the store owns it); its list position.
    int AddItem(std::unique_ptr<TFavoriteItem> item, TError* saveError = nullptr);
    // A copy of DefaultItem with this title and URL, dated now.
    int AddNew(std::string_view title, std::string_view url, TError* saveError = nullptr);
    [[nodiscard]] TError UpdateItem(TFavoriteItem* item);
    // Removes and frees the item.
    [[nodiscard]] TError DeleteItem(TFavoriteItem* item);
    [[nodiscard]] TError ResetDefaultDate();

    // Between these the changes above reach the list and the view but not the
    // file; the last EndUpdate sorts the view, selects the last item added and
    // saves once (if anything changed), with that save's result. Pairs nest.
    void BeginUpdate();
    [[nodiscard]] TError EndUpdate();

    // The first favorite whose URL equals url ignoring case, or null.
    const TFavoriteItem* FindByUrl(std::string_view url) const;

    // The defaults of the default favorite: the save folder ~/Tarnhold/ and
    // the file name "index.html".
    static TFavoriteItem MakeDefaultItem();

private:
    // Save, or only note that one is due while an update is open.
    TError Changed();

    std::filesystem::path FileName_;
    TFavoritesView* View_ = nullptr;
    std::vector<std::unique_ptr<TFavoriteItem>> Items_;
    std::unique_ptr<TFavoriteItem> DefaultItem_;
    std::uint8_t SortType_ = fsTitle;
    std::uint8_t SortOrder_ = 0;
    int Updating_ = 0;
    bool SavePending_ = false;
    const TFavoriteItem* LastAdded_ = nullptr;
};

// The current local time as the calendar fields of a favorite's Date.
SYSTEMTIME CurrentLocalTime();

} // namespace tarnhold
