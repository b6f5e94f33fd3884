// The import of a Favorites folder of Internet shortcuts into a fresh store:
// the folder read, every shortcut added and favorites.dat written.
#include "favorites/favorites.h"
#include "favorites/shortcuts.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <string>

namespace {

using namespace tarnhold;

void BM_ImportShortcuts(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    const std::filesystem::path dir = CreateTempFolder();
    const std::filesystem::path shortcuts = dir / "Favorites";
    ForceDirectories(shortcuts);
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        WriteTestFile(shortcuts / ("Site " + n + ".url"),
                      "[InternetShortcut]\r\nURL=http://site" + n + ".test/\r\n");
    }
    const std::filesystem::path file = dir / "data" / "favorites.dat";
    for (auto _ : state) {
        state.PauseTiming();
        DeleteFileIfExists(file);
        state.ResumeTiming();
        TFavorites store;
        (void)store.SetFileName(file);
        TShortcutFolder folder = ReadShortcutFolder(shortcuts, store);
        const int imported =
            ImportShortcuts(folder.Items, store, [](const TShortcutEntry&) { return true; });
        benchmark::DoNotOptimize(imported);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
    DeleteFolder(dir);
}

BENCHMARK(BM_ImportShortcuts)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
