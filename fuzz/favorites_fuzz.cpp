// favorites.dat over arbitrary bytes, and file masks over arbitrary masks and
// names: reading never fails and is bounded by the file, and what is saved
// reads back the same, whole (a damaged Count is mended by the save).
#include "favorites/favorites.h"
#include "find/filemask.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnhold;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    // The first line as a mask, the second as a name.
    const std::size_t eol = text.find('\n');
    if (eol != std::string_view::npos) {
        const std::string_view rest = text.substr(eol + 1);
        const std::string_view name = rest.substr(0, rest.find('\n'));
        TFileMask mask(text.substr(0, eol));
        (void)mask.Matches(name);
        TextToDate(name);
    }

    static const struct Scratch {
        std::filesystem::path path = CreateTempFolder();
        ~Scratch() { DeleteFolder(path); }
    } scratch;
    const auto file = scratch.path / "favorites.dat";
    if (!WriteTestFile(file, text))
        std::abort();
    TFavorites store;
    (void)store.SetFileName(file);
    if (static_cast<std::size_t>(store.Count()) > size)
        std::abort();
    if (store.Save())
        std::abort();
    TFavorites again;
    if (again.SetFileName(file) || again.Count() != store.Count())
        std::abort();
    // A line break inside a value is written as a blank.
    const auto written = [](std::string value) {
        for (char& c : value) {
            if (c == '\r' || c == '\n')
                c = ' ';
        }
        return value;
    };
    for (int i = 0; i < store.Count(); ++i) {
        const TFavoriteItem& a = *store.Items(i);
        const TFavoriteItem& b = *again.Items(i);
        if (written(a.Title) != b.Title || written(a.UrlName) != b.UrlName ||
            a.Folder != b.Folder || a.Method != b.Method || a.Timer != b.Timer ||
            a.AllLinks != b.AllLinks || DateToText(a.Date) != DateToText(b.Date))
            std::abort();
    }
    return 0;
}
