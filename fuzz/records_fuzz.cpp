// renameList.dat and contentType.dat over arbitrary bytes: reading never
// fails, a good record after any damage is still read, and what is saved
// reads back the same, whole.
#include "platform/appfolder.h"
#include "tree/contenttype.h"
#include "tree/recordfile.h"
#include "tree/renamelist.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnhold;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    TWebCacheRenameItems renames;
    TContentType types;
    ParseRecordFile(text, [&](std::string_view key, std::string_view value) {
        renames.Add(key, value);
        types.Add(key, value);
        renames.Lookup(key);
        types.IndexOf(key);
    });

    // A good record after whatever came before it is read (once the line
    // before it is ended).
    std::string longer(text);
    longer += "\r\nsentinel/key\tsentinel-value\r\n";
    std::string last;
    ParseRecordFile(longer, [&](std::string_view key, std::string_view value) {
        last = std::string(key) + '\t' + std::string(value);
    });
    if (last != "sentinel/key\tsentinel-value")
        std::abort();

    // One scratch folder for the whole run, removed at exit.
    static const struct Scratch {
        std::filesystem::path path = CreateTempFolder();
        ~Scratch() { DeleteFolder(path); }
    } scratch;
    const std::filesystem::path& folder = scratch.path;
    const auto renameFile = folder / "renameList.dat";
    const auto typeFile = folder / "contentType.dat";
    if (renames.SaveToFile(renameFile) || types.SaveToFile(typeFile))
        std::abort();

    TWebCacheRenameItems renamesAgain;
    TContentType typesAgain;
    if (!renamesAgain.LoadFromFile(renameFile).Whole() ||
        !typesAgain.LoadFromFile(typeFile).Whole())
        std::abort();
    // Rename items the file can hold come back, but not always one for one:
    // keys are percent-decoded again when read, so two keys that still held
    // escapes may meet. Content types come back exactly.
    int writable = 0;
    for (const TWebCacheRenameItem* item : renames.Items())
        writable += IsWritableRecord(item->Key, item->Value) ? 1 : 0;
    if (renamesAgain.Count() > writable)
        std::abort();
    int next = 0;
    for (int i = 0; i < types.Count(); ++i) {
        const TContentTypeItem& item = types.Items(i);
        if (!IsWritableRecord(item.ContentType, item.DefaultExtension))
            continue;
        if (next >= typesAgain.Count() || typesAgain.Items(next).ContentType != item.ContentType ||
            typesAgain.Items(next).DefaultExtension != item.DefaultExtension)
            std::abort();
        ++next;
    }
    if (next != typesAgain.Count())
        std::abort();
    return 0;
}
