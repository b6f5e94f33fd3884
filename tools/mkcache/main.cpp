// tarnhold-mkcache: writes an Internet Explorer cache container (index.dat
// and its cache folders) from a manifest, or a generated one for benchmarks.
// The format of the manifest is described in docs/mkcache.md.
#include "mkcache/cachebuilder.h"
#include "mkcache/syntheticcache.h"
#include "platform/files.h"

#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

namespace {

using namespace tarnhold;

constexpr const char* kUsage =
    "usage: tarnhold-mkcache [--wine] [--append] MANIFEST FOLDER\n"
    "       tarnhold-mkcache [--wine] [--no-files] --synthetic N|max FOLDER\n"
    "\n"
    "Writes FOLDER/index.dat and the cache folders beside it with the cached files.\n"
    "  --wine        Wine's signature (\"WINE URLCache Ver 0.2012001\") instead of\n"
    "                Internet Explorer's (\"Client UrlCache MMF Ver 5.2\")\n"
    "  --append      add the entries to the index.dat in FOLDER\n"
    "  --synthetic N generate N entries (max: as many as one index.dat holds)\n"
    "  --no-files    with --synthetic: write the index only, no cached files\n";

int Usage(std::string_view message) {
    if (!message.empty())
        std::cerr << "tarnhold-mkcache: " << message << "\n";
    std::cerr << kUsage;
    return 2;
}

int Fail(const std::string& message) {
    std::cerr << "tarnhold-mkcache: " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    TCacheBuildOptions options;
    bool append = false;
    bool synthetic = false;
    std::size_t count = 0;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--wine") {
            options.Signature = TIndexDatSignature::Wine;
        } else if (a == "--append") {
            append = true;
        } else if (a == "--no-files") {
            options.WriteFiles = false;
        } else if (a == "--synthetic") {
            if (++i >= argc)
                return Usage("--synthetic needs a number");
            synthetic = true;
            const std::string_view n = argv[i];
            if (n != "max") {
                auto [p, ec] = std::from_chars(n.data(), n.data() + n.size(), count);
                if (ec != std::errc() || p != n.data() + n.size() || count == 0)
                    return Usage("--synthetic needs a positive number or max");
            }
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + std::string(a));
        } else {
            positional.emplace_back(a);
        }
    }
    if (positional.size() != (synthetic ? 1u : 2u))
        return Usage("");
    if (synthetic && append)
        return Usage("--append works with a manifest only");
    if (!synthetic && !options.WriteFiles)
        return Usage("--no-files works with --synthetic only");

    const std::filesystem::path folder = positional.back();
    if (!append && FileExists(folder / "index.dat"))
        return Fail((folder / "index.dat").string() + " exists already; remove it or use --append");

    TCacheBuilder builder(folder, options);
    if (append) {
        if (TError error = builder.OpenExisting())
            return Fail(error.Text());
    }
    if (synthetic) {
        if (TError error = AddSyntheticEntries(builder, count))
            return Fail(error.Text());
    } else {
        const std::filesystem::path manifestFile = positional.front();
        std::string text;
        int e = 0;
        if (!ReadWholeFile(manifestFile, text, &e))
            return Fail(manifestFile.string() + ": " + std::strerror(e));
        std::vector<TManifestEntry> entries;
        if (TError error = ParseCacheManifest(text, manifestFile.parent_path(), entries))
            return Fail(manifestFile.string() + ": " + error.Text());
        for (const auto& entry : entries) {
            if (TError error = builder.Add(entry))
                return Fail(manifestFile.string() + ": line " + std::to_string(entry.Line) + ": " +
                            error.Text());
        }
    }
    if (TError error = builder.Finish())
        return Fail(error.Text());
    std::cout << "wrote " << builder.Count() << " entries to " << (folder / "index.dat").string()
              << " (" << builder.Image().Bytes().size() << " bytes)\n";
    return 0;
}
