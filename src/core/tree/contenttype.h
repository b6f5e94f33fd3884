// Content types and their file extensions: which extensions are known for a
// media type and which one documents of that type get when their URL's own
// extension does not fit.
#pragma once

#include "platform/error.h"
#include "tree/recordfile.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

class TContentTypeItem {
public:
    explicit TContentTypeItem(std::string contentType) : ContentType(std::move(contentType)) {}

    // Makes ext the default; adds it to Extensions unless an equal one
    // (ignoring case) is there. An unchanged default changes nothing.
    void SetDefaultExtension(std::string_view ext);
    // Whether ext is one of Extensions, ignoring case.
    bool HasExtension(std::string_view ext) const;

    std::string ContentType;             // as spelled by its source
    std::vector<std::string> Extensions; // with the leading '.', first appearance first
    std::string DefaultExtension;
};

// Sorted by ContentType in byte order; lookups match the exact text.
class TContentType {
public:
    // Index of the type, or a negative value (-(insertion point) - 1).
    int IndexOf(std::string_view contentType) const;
    // Inserts the type if absent, then SetDefaultExtension(ext) on it.
    int Add(std::string_view contentType, std::string_view ext);
    int Count() const { return static_cast<int>(items_.size()); }
    TContentTypeItem& Items(int index) { return items_[static_cast<std::size_t>(index)]; }
    const TContentTypeItem& Items(int index) const {
        return items_[static_cast<std::size_t>(index)];
    }
    void Clear() { items_.clear(); }

    // Fills the table from the system's associations: every extension of the
    // media-types file, in the byte order of the extensions (each becomes its
    // type's default for the moment), then the built-in defaults of the
    // common web types.
    void LoadFromRegistry(const std::filesystem::path& mimeTypesFile);

    // Applies the records of a contentType.dat file, passing over damaged
    // ones; text (if given) receives the file's bytes.
    TRecordFileRead LoadFromFile(const std::filesystem::path& file, std::string* text = nullptr);
    // The text of the file that holds this table.
    std::string RecordText() const;
    [[nodiscard]] TError SaveToFile(const std::filesystem::path& file) const;

private:
    std::vector<TContentTypeItem> items_;
};

} // namespace tarnhold
