// Local file names of the cache tree: the naming rule applied while the tree
// is built, the rename list and the duplicate pass. The paths and links of
// the copies made from these names are in localpaths.cpp.
#include "platform/codepage.h"
#include "platform/files.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unordered_set>

namespace tarnhold {

namespace {

std::string_view WithoutExt(std::string_view name) {
    return name.substr(0, name.size() - ExtractFileExt(name).size());
}

// Types that say nothing of what a document is ("here are some bytes",
// "save this"): servers send them for images, archives, fonts and PDFs
// alike, so the name the URL gives is the better guide.
bool IsGenericType(std::string_view type) {
    return type == "application/octet-stream" || type == "binary/octet-stream" ||
           type == "application/x-download" || type == "application/force-download" ||
           type == "application/unknown";
}

} // namespace

std::string_view ExtractFileExt(std::string_view name) {
    std::size_t dot = AnsiFindLast(name, ".");
    if (dot == std::string_view::npos)
        return {};
    if (AnsiFindFirstOf(name, "\\:", dot + 1) != std::string_view::npos)
        return {};
    return name.substr(dot);
}

std::string EntryContentType(const TWebCacheEntryInfo& entry) {
    // Cut and trimmed before it is lower-cased (the same bytes: ';' and
    // blanks are never the second byte of a Shift-JIS character), so that
    // the parameters are not copied.
    std::string_view type = entry.HeaderInfo.ValueView("Content-Type");
    type = AnsiTrim(type.substr(0, type.find(';')));
    return AnsiLowerCase(type);
}

void TWebCacheTree::ApplyLocalName(TWebCacheEntryInfoEx& entry) {
    std::string type = EntryContentType(entry);
    if (entry.FileName.empty() && entry.ExtraInfo.empty())
        return; // a folder URL: the duplicate pass gives it DefaultFileName
    if (entry.ExtraInfo.empty() && type == "text/plain")
        return;

    std::string ext(ExtractFileExt(entry.FileName));
    int typeIndex = IsGenericType(type) ? -1 : contentTypes_.IndexOf(type);
    if (typeIndex >= 0) {
        const TContentTypeItem& item = contentTypes_.Items(typeIndex);
        if (!item.HasExtension(ext))
            ext = item.DefaultExtension;
    }

    std::string candidate;
    if (!entry.ExtraInfo.empty())
        candidate = SuffixedStem(crcTable_, entry.FileName, entry.ExtraInfo) + ext;
    else
        candidate = std::string(WithoutExt(entry.FileName)) + ext;

    if (candidate != entry.FileName) {
        entry.FileName = candidate;
        entry.ExtraInfo.clear();
        renameItems_.Add(entry.Url, entry.DirUrl + candidate);
    }
}

void TWebCacheTree::RenameDuplicates(TWebCacheTreeNode* node) {
    if (node == nullptr || !node->IsFolder)
        return;
    ChangingScope changing(*this);
    LayoutScope layout(*this);
    SortSuspension suspend(*this);
    std::vector<TWebCacheTreeNode*> folders{node};
    while (!folders.empty()) {
        TWebCacheTreeNode* folder = folders.back();
        folders.pop_back();

        bool renamed = false;
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* child = folder->Items(i);
            if (child->IsFolder) {
                folders.push_back(child);
                continue;
            }
            const std::string& name =
                child->Info().FileName.empty() ? DefaultFileName : child->Info().FileName;
            if (name != child->Name()) {
                child->SetName(name);
                renamed = true;
            }
        }
        // Any changed name may have moved in the order (numbered names of an
        // earlier pass come back as their plain names), so the equal names
        // must be made neighbours again before they are counted.
        if (renamed)
            folder->SortChildren();

        // A file whose name meets a folder's ("http://h/a" beside
        // "http://h/a/b.html") cannot lie beside it on disk: the folder keeps
        // the name, and the file is numbered as if it were a second "a".
        std::unordered_set<std::string> folderNames;
        for (int i = 0; i < folder->Count(); ++i) {
            if (folder->Items(i)->IsFolder)
                folderNames.insert(folder->Items(i)->LowerName());
        }

        std::string previous;
        int counter = 0;
        bool numbered = false;
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* child = folder->Items(i);
            if (child->IsFolder)
                continue;
            const std::string& name = child->DisplayName();
            if (!AnsiSameText(name, previous)) {
                previous = name;
                counter = 1;
                if (folderNames.empty() || folderNames.count(AnsiLowerCase(name)) == 0)
                    continue;
            }
            // The file part follows the last '\\' or ':' (npos + 1 is 0: none).
            std::string_view filePart = name;
            filePart.remove_prefix(
                std::max(AnsiFindLast(name, "\\") + 1, AnsiFindLast(name, ":") + 1));
            char number[16];
            std::snprintf(number, sizeof number, "~%04d", counter);
            std::string numberedName =
                std::string(WithoutExt(filePart)) + number + std::string(ExtractFileExt(name));
            child->SetName(numberedName);
            ++counter;
            numbered = true;
        }
        if (numbered)
            folder->SortChildren();
    }
}

void TWebCacheTree::LoadRenameList() {
    renameItems_.Clear();
    renameListRead_ = TRecordFileRead{};
    sharedItems_ = TWebCacheRenameItems{};
    sharedRead_ = TRecordFileRead{};
    sharedRead_.Missing = true;
    migrating_ = false;
    migrated_ = false;
    if (renameListFile_.empty())
        return;
    renameListRead_ = renameItems_.LoadFromFile(renameListFile_);
    // A cache without a list of its own yet takes its records from the
    // shared list as its entries are read. One that could not be read at
    // all is tried again next time (the front ends say why).
    if (!renameListRead_.Missing || sharedRenameListFile_.empty())
        return;
    sharedRead_ = sharedItems_.LoadFromFile(sharedRenameListFile_);
    migrating_ = !sharedRead_.Missing && sharedRead_.Error.Ok();
    if (!migrating_)
        sharedItems_ = TWebCacheRenameItems{};
}

void TWebCacheTree::LoadContentTypes() {
    contentTypes_.LoadFromRegistry(MimeTypesFile);
    contentTypeRead_ = TRecordFileRead{};
    contentTypeText_.clear();
    if (!contentTypeFile_.empty())
        contentTypeRead_ = contentTypes_.LoadFromFile(contentTypeFile_, &contentTypeText_);
    contentTypeLoaded_ = contentTypes_.RecordText();
}

namespace {

// Why a data file that could not be read whole is left as it is.
TError KeptAsItIs(const std::filesystem::path& file, const TRecordFileRead& read) {
    if (read.Error)
        return TError::Message(read.Error.Text() + " (not saved over: it could not be read)",
                               read.Error.Code());
    return TError::Message(file.string() + ": " + std::to_string(read.BadRecords) +
                           " damaged record(s); the file is left as it is and this run's "
                           "changes are not kept");
}

} // namespace

TError TWebCacheTree::SaveRenameList() {
    if (renameListFile_.empty() || (!renameItems_.Modified() && !migrated_))
        return {};
    if (!renameListRead_.Whole())
        return KeptAsItIs(renameListFile_, renameListRead_);
    TError error = renameItems_.SaveToFile(renameListFile_);
    if (error)
        return error;                    // what moved is still in the shared list
    renameListRead_ = TRecordFileRead{}; // the file now holds the list
    if (migrating_)
        SaveSharedRenameList();
    return {};
}

void TWebCacheTree::SaveSharedRenameList() {
    // The cache has its own list now: the shared one is not read for it again.
    migrating_ = false;
    migrated_ = false;
    TWebCacheRenameItems shared = std::move(sharedItems_);
    sharedItems_ = TWebCacheRenameItems{};
    if (!shared.Modified() || !sharedRead_.Whole())
        return; // nothing moved, or a file that keeps every record as it is
    if (shared.Count() > 0) {
        (void)shared.SaveToFile(sharedRenameListFile_);
        return;
    }
    // Every record found its cache. A link to a list kept elsewhere stays,
    // the list it leads to emptied.
    struct stat st {};
    if (::lstat(sharedRenameListFile_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)DeleteFileIfExists(sharedRenameListFile_);
    else
        (void)WriteRecordFile(sharedRenameListFile_, {});
}

TError TWebCacheTree::SaveContentTypes() {
    if (contentTypeFile_.empty())
        return {};
    std::string text = contentTypes_.RecordText();
    if (text == contentTypeText_)
        return {}; // the file holds the table already (or both are empty)
    if (!contentTypeRead_.Whole()) {
        // Left as it is; that loses something only when the table changed.
        if (text == contentTypeLoaded_)
            return {};
        return KeptAsItIs(contentTypeFile_, contentTypeRead_);
    }
    TError error = WriteRecordFile(contentTypeFile_, text);
    if (error.Ok()) {
        contentTypeRead_ = TRecordFileRead{};
        contentTypeLoaded_ = text;
        contentTypeText_ = std::move(text);
    }
    return error;
}

TError TWebCacheTree::SaveDataFiles() {
    TError renames = SaveRenameList();
    TError types = SaveContentTypes();
    if (renames && types)
        return TError::Message(renames.Text() + "\n" + types.Text(), renames.Code());
    return renames ? renames : types;
}

} // namespace tarnhold
