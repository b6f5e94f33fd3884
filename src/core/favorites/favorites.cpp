#include "favorites/favorites.h"

#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "text/displayformat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace tarnhold {

namespace {

constexpr std::string_view kFavorites = "Favorites";
constexpr std::string_view kDefault = "FavoriteDefault";

std::string SectionName(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Favorite%04d", n);
    return buf;
}

// The shortest a favorite's section can be written: "[Favorite0001]" and a
// line end. No file holds more favorites than its size over this.
constexpr std::size_t kSmallestSection = 15;

// The numbers of the favorite sections the file holds, in ascending order:
// the names SectionName gives (in any letter case), numbered from 1.
std::vector<int> FavoriteSections(const TProfileFile& ini) {
    constexpr std::string_view kPrefix = "Favorite";
    std::vector<int> numbers;
    for (const std::string& name : ini.ReadSections()) {
        if (name.size() <= kPrefix.size() ||
            !AnsiSameText(std::string_view(name).substr(0, kPrefix.size()), kPrefix))
            continue;
        const std::string_view digits = std::string_view(name).substr(kPrefix.size());
        int n = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec == std::errc() && end == digits.data() + digits.size() && n >= 1 &&
            AnsiSameText(name, SectionName(n)))
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The value as the message shows it: a damaged one may be long.
std::string Quoted(std::string_view value) {
    constexpr std::size_t kShown = 24;
    return "\"" + std::string(value.substr(0, kShown)) + (value.size() > kShown ? "...\"" : "\"");
}

// The texts and small fields common to the default and the numbered sections.
void ReadItem(const TProfileFile& ini, std::string_view section, TFavoriteItem& item,
              const TFavoriteItem& defaults) {
    item.UrlName = ini.ReadString(section, "UrlName", defaults.UrlName);
    item.PathName = ini.ReadString(section, "PathName", defaults.PathName);
    item.Default = ini.ReadString(section, "Default", defaults.Default);
    item.Title = ini.ReadString(section, "Title", defaults.Title);
    // Stored into the 8-bit fields by truncation, as the format always did.
    item.Folder = static_cast<std::uint8_t>(ini.ReadInteger(section, "Folder", defaults.Folder));
    item.Method = static_cast<std::uint8_t>(ini.ReadInteger(section, "Method", defaults.Method));
    item.Timer = ini.ReadBool(section, "Timer", defaults.Timer);
    item.AllLinks = ini.ReadBool(section, "AllLinks", defaults.AllLinks);
}

void WriteItem(TProfileFile& ini, std::string_view section, const TFavoriteItem& item) {
    ini.WriteString(section, "UrlName", item.UrlName);
    ini.WriteString(section, "PathName", item.PathName);
    ini.WriteString(section, "Default", item.Default);
    ini.WriteString(section, "Title", item.Title);
    ini.WriteInteger(section, "Folder", item.Folder);
    ini.WriteInteger(section, "Method", item.Method);
    ini.WriteBool(section, "Timer", item.Timer);
}

// Reads an unsigned decimal number of 1..maxDigits digits at text[pos].
bool ReadNumber(std::string_view text, std::size_t& pos, int maxDigits, int& value) {
    std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' &&
           static_cast<int>(pos - start) < maxDigits)
        value = value * 10 + (text[pos++] - '0');
    return pos > start;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

int CompareDates(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    // An unset or impossible date counts as the oldest of all.
    FILETIME fa, fb;
    if (!SystemTimeToFileTime(a, fa))
        fa = FILETIME{};
    if (!SystemTimeToFileTime(b, fb))
        fb = FILETIME{};
    return CompareFileTime(fa, fb);
}

} // namespace

// ---------------------------------------------------------------------------
// Dates

bool IsDateUnset(const SYSTEMTIME& d) {
    return d.wYear == 0 && d.wMonth == 0 && d.wDayOfWeek == 0 && d.wDay == 0 && d.wHour == 0 &&
           d.wMinute == 0 && d.wSecond == 0 && d.wMilliseconds == 0;
}

std::string DateToText(const SYSTEMTIME& date) {
    FILETIME check;
    if (IsDateUnset(date) || !SystemTimeToFileTime(date, check))
        return {};
    char buf[80];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d %d:%02d:%02d", date.wYear, date.wMonth, date.wDay,
                  date.wHour, date.wMinute, date.wSecond);
    return buf;
}

SYSTEMTIME TextToDate(std::string_view text) {
    text = AnsiTrim(text);
    std::size_t pos = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool ok = ReadNumber(text, pos, 5, y);
    const std::size_t yearDigits = pos;
    ok = ok && Expect(text, pos, '/') && ReadNumber(text, pos, 2, mo) && Expect(text, pos, '/') &&
         ReadNumber(text, pos, 2, d);
    if (ok && pos < text.size()) {
        ok = Expect(text, pos, ' ');
        while (ok && pos < text.size() && text[pos] == ' ')
            ++pos;
        ok = ok && ReadNumber(text, pos, 2, h) && Expect(text, pos, ':') &&
             ReadNumber(text, pos, 2, mi);
        if (ok && pos < text.size())
            ok = Expect(text, pos, ':') && ReadNumber(text, pos, 2, s);
        ok = ok && pos == text.size();
    }
    // Two-digit years, as a short date format of "yy/MM/dd" wrote them.
    if (ok && yearDigits <= 2)
        y += y < 30 ? 2000 : 1900;
    SYSTEMTIME t = MakeSystemTime(y, mo, d, h, mi, s);
    FILETIME ft;
    if (!ok || !SystemTimeToFileTime(t, ft) || !FileTimeToSystemTime(ft, t))
        return SYSTEMTIME{};
    return t; // with its day of week
}

SYSTEMTIME CurrentLocalTime() {
    FILETIME local;
    SYSTEMTIME t{};
    if (FileTimeToLocalFileTime(GetSystemTimeAsFileTime(), local))
        FileTimeToSystemTime(local, t);
    return t;
}

std::string FavoriteDateColumn(const TFavoriteItem& item) {
    return IsDateUnset(item.Date) ? std::string() : FormatDateTimeShort(item.Date);
}

int CompareFavorites(const TFavoriteItem& a, const TFavoriteItem& b, int column, int order) {
    int c = 0;
    switch (column) {
    case fsTitle:
        c = AnsiCompareText(a.Title, b.Title);
        if (c == 0)
            c = AnsiCompareText(a.UrlName, b.UrlName);
        break;
    case fsUrl:
        c = AnsiCompareText(a.UrlName, b.UrlName);
        if (c == 0)
            c = AnsiCompareText(a.Title, b.Title);
        break;
    case fsDate:
        c = CompareDates(b.Date, a.Date); // the newest first
        if (c == 0)
            c = AnsiCompareText(a.Title, b.Title);
        if (c == 0)
            c = AnsiCompareText(a.UrlName, b.UrlName);
        break;
    default:
        return 0;
    }
    c = c < 0 ? -1 : c > 0 ? 1 : 0;
    return order == 1 ? -c : c;
}

// ---------------------------------------------------------------------------
// TFavorites

TFavorites::TFavorites() : DefaultItem_(std::make_unique<TFavoriteItem>()) {}

TFavorites::~TFavorites() = default;

TFavoriteItem TFavorites::MakeDefaultItem() {
    TFavoriteItem item;
    item.PathName = PathToAnsi(GetDefaultSaveFolder()) + "/";
    item.Default = "index.html";
    return item;
}

TError TFavorites::SetFileName(const std::filesystem::path& file) {
    if (file.native() == FileName_.native())
        return {};
    FileName_ = file;
    TError error = Load();
    RefreshView();
    return error;
}

void TFavorites::SetView(TFavoritesView* view) {
    if (view == View_)
        return;
    View_ = view;
    RefreshView();
}

TError TFavorites::Load() {
    if (FileName_.empty())
        return {};
    TProfileFile ini(FileName_);
    ReadItem(ini, kDefault, *DefaultItem_, MakeDefaultItem());
    DefaultItem_->Date = SYSTEMTIME{};
    if (ini.LoadError() != 0)
        return ini.LoadFailure();

    // Count names the favorites; the sections past it are old ones that a
    // deletion left behind. A missing section below Count still gives a
    // (default) favorite. But a Count that is no number, or one beyond the
    // sections the file holds, is damage: then every favorite section of the
    // file is read, in the order of their numbers, so that the next save
    // writes over none that was not read.
    const std::vector<int> sections = FavoriteSections(ini);
    const int highest = sections.empty() ? 0 : sections.back();
    const bool hasCount = ini.ValueExists(kFavorites, "Count");
    const int count = ini.ReadInteger(kFavorites, "Count", -1);
    std::vector<int> numbers;
    TError error;
    if (count >= 0 && count <= highest &&
        static_cast<std::size_t>(count) <= ini.Size() / kSmallestSection) {
        for (int n = 1; n <= count; ++n)
            numbers.push_back(n);
    } else if (hasCount || !sections.empty()) {
        numbers = sections;
        const std::string found = "read the " + std::to_string(sections.size()) +
                                  (sections.size() == 1 ? " favorite" : " favorites") +
                                  " the file holds";
        const std::string name = PathToAnsi(FileName_);
        if (!hasCount)
            error = TError::Message(name + ": no Count of favorites; " + found);
        else if (count < 0)
            error = TError::Message(name + ": Count " +
                                    Quoted(ini.ReadString(kFavorites, "Count", "")) +
                                    " is no number of favorites; " + found);
        else
            error = TError::Message(name + ": Count " + std::to_string(count) +
                                    " is more favorites than the file holds; " + found);
    }
    const TFavoriteItem fresh;
    for (int n : numbers) {
        auto item = std::make_unique<TFavoriteItem>();
        const std::string section = SectionName(n);
        ReadItem(ini, section, *item, fresh);
        item->Date = TextToDate(ini.ReadString(section, "Date", ""));
        Items_.push_back(std::move(item));
    }
    return error;
}

TError TFavorites::Save() {
    if (FileName_.empty())
        return {};
    // Read afresh and write key by key, so that every other line of the file
    // (and the sections past Count) stays as it was.
    TProfileFile ini(FileName_);
    if (ini.LoadError() != 0)
        return ini.LoadFailure();
    ini.SetAutoUpdate(false);
    ini.WriteInteger(kFavorites, "Count", Count());
    WriteItem(ini, kDefault, *DefaultItem_);
    ini.WriteBool(kDefault, "AllLinks", DefaultItem_->AllLinks);
    for (int n = 1; n <= Count(); ++n) {
        const std::string section = SectionName(n);
        const TFavoriteItem& item = *Items_[static_cast<std::size_t>(n - 1)];
        WriteItem(ini, section, item);
        ini.WriteString(section, "Date", DateToText(item.Date));
        ini.WriteBool(section, "AllLinks", item.AllLinks);
    }
    if (!ini.UpdateFile())
        return ini.LastFailure();
    return {};
}

TError TFavorites::Changed() {
    if (Updating_ > 0) {
        SavePending_ = true;
        return {};
    }
    return Save();
}

void TFavorites::BeginUpdate() {
    ++Updating_;
}

TError TFavorites::EndUpdate() {
    if (Updating_ == 0 || --Updating_ > 0)
        return {};
    if (View_ != nullptr && LastAdded_ != nullptr) {
        SortView();
        View_->SelectRow(LastAdded_);
    }
    LastAdded_ = nullptr;
    if (!SavePending_)
        return {};
    SavePending_ = false;
    return Save();
}

int TFavorites::IndexOf(const TFavoriteItem* item) const {
    for (std::size_t i = 0; i < Items_.size(); ++i) {
        if (Items_[i].get() == item)
            return static_cast<int>(i);
    }
    return -1;
}

void TFavorites::SetSortType(std::uint8_t column) {
    if (column == SortType_)
        return;
    SortType_ = column;
    SortOrder_ = 0;
    SortView();
}

void TFavorites::SetSortOrder(std::uint8_t order) {
    if (order == SortOrder_)
        return;
    SortOrder_ = order;
    SortView();
}

void TFavorites::SetSort(std::uint8_t order, std::uint8_t column) {
    SortOrder_ = order;
    SortType_ = column;
    SortView();
}

void TFavorites::RefreshView() {
    if (View_ == nullptr)
        return;
    View_->ClearRows();
    for (const auto& item : Items_)
        View_->AddRow(item.get());
    SortView();
}

void TFavorites::SortView() {
    if (View_ == nullptr)
        return;
    const int column = SortType_, order = SortOrder_;
    View_->SortRows([column, order](const TFavoriteItem& a, const TFavoriteItem& b) {
        return CompareFavorites(a, b, column, order);
    });
}

int TFavorites::AddItem(std::unique_ptr<TFavoriteItem> item, TError* saveError) {
    TFavoriteItem* raw = item.get();
    Items_.push_back(std::move(item));
    if (View_ != nullptr) {
        View_->AddRow(raw);
        if (Updating_ > 0) {
            LastAdded_ = raw;
        } else {
            SortView();
            View_->SelectRow(raw);
        }
    }
    TError error = Changed();
    if (saveError != nullptr)
        *saveError = std::move(error);
    return Count() - 1;
}

int TFavorites::AddNew(std::string_view title, std::string_view url, TError* saveError) {
    auto item = std::make_unique<TFavoriteItem>(*DefaultItem_);
    item->Title = std::string(title);
    item->UrlName = std::string(url);
    item->Date = CurrentLocalTime();
    return AddItem(std::move(item), saveError);
}

TError TFavorites::UpdateItem(TFavoriteItem* item) {
    TError error = Changed();
    if (View_ != nullptr && View_->UpdateRow(item))
        SortView();
    return error;
}

TError TFavorites::DeleteItem(TFavoriteItem* item) {
    auto it = std::find_if(Items_.begin(), Items_.end(),
                           [item](const auto& owned) { return owned.get() == item; });
    if (it == Items_.end())
        return {};
    std::unique_ptr<TFavoriteItem> owned = std::move(*it);
    Items_.erase(it);
    if (LastAdded_ == item)
        LastAdded_ = nullptr;
    TError error = Changed();
    if (View_ != nullptr)
        View_->DeleteRow(owned.get());
    return error;
}

TError TFavorites::ResetDefaultDate() {
    DefaultItem_->Date = SYSTEMTIME{};
    return Changed();
}

const TFavoriteItem* TFavorites::FindByUrl(std::string_view url) const {
    for (const auto& item : Items_) {
        if (AnsiSameText(item->UrlName, url))
            return item.get();
    }
    return nullptr;
}

} // namespace tarnhold
