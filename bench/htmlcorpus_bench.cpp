// The HTML tokenizer against its neighbours on real pages: every .html file
// under a folder (by default the Python documentation that Debian's
// python3.11-doc installs) is read into memory, then each round measures, in
// turn and in the same process,
//   walk     the program's token walk, every token's text put back together
//            (the round trip is checked byte for byte),
//   rewrite  the same walk with every href and src given a new value,
//   libxml2  libxml2's HTML SAX parser over the same pages,
//   gumbo    gumbo's parse into a tree (when built with gumbo).
// The CPU time of each is taken per round; the medians and their ratios are
// printed at the end.
//
//   htmlcorpus_bench [FOLDER] [ROUNDS] [ONLY]
//
// ONLY (walk, rewrite, libxml2 or gumbo) runs that one alone, for a profile.
#include "text/htmltag.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <libxml/HTMLparser.h>
#include <sstream>
#include <string>
#include <vector>
#ifdef TARNHOLD_HAVE_GUMBO
#include <gumbo.h>
#endif

namespace {

using namespace tarnhold;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> LoadPages(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".html")
            names.push_back(it->path());
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> pages;
    for (const auto& name : names) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        pages.push_back(text.str());
    }
    return pages;
}

std::size_t Walk(const std::vector<std::string>& pages, std::string& out) {
    THTMLTag tag;
    std::size_t bytes = 0;
    for (const std::string& page : pages) {
        out.clear();
        for (std::size_t pos = 0; NextTagInPlace(page, pos, tag);)
            out.append(tag.TextView());
        if (out != page) {
            std::fprintf(stderr, "round trip differs\n");
            std::exit(1);
        }
        bytes += out.size();
    }
    return bytes;
}

bool IsLinkName(const std::string& name) {
    if (name.size() == 4)
        return (name[0] | 0x20) == 'h' && (name[1] | 0x20) == 'r' && (name[2] | 0x20) == 'e' &&
               (name[3] | 0x20) == 'f';
    if (name.size() == 3)
        return (name[0] | 0x20) == 's' && (name[1] | 0x20) == 'r' && (name[2] | 0x20) == 'c';
    return false;
}

std::size_t Rewrite(const std::vector<std::string>& pages, std::string& out) {
    THTMLTag tag;
    std::string value;
    std::size_t bytes = 0;
    for (const std::string& page : pages) {
        out.clear();
        for (std::size_t pos = 0; NextTagInPlace(page, pos, tag);) {
            if (tag.Kind() == tkTag) {
                for (int i = 0; i < tag.Count(); ++i) {
                    THTMLEllement& e = tag.Elements(i);
                    if (IsLinkName(e.Name())) {
                        value.assign("local/").append(e.Value());
                        e.SetValue(value);
                    }
                }
            }
            out.append(tag.TextView());
        }
        bytes += out.size();
    }
    return bytes;
}

struct TSaxCount {
    std::size_t elements = 0;
    std::size_t attributes = 0;
    std::size_t text = 0;
};

void SaxStart(void* user, const xmlChar*, const xmlChar** attributes) {
    auto* count = static_cast<TSaxCount*>(user);
    ++count->elements;
    for (const xmlChar** a = attributes; a != nullptr && *a != nullptr; a += 2)
        ++count->attributes;
}
void SaxText(void* user, const xmlChar*, int length) {
    static_cast<TSaxCount*>(user)->text += static_cast<std::size_t>(length);
}
void SaxQuiet(void*, const char*, ...) {}

std::size_t LibXml2(const std::vector<std::string>& pages) {
    htmlSAXHandler sax{};
    sax.startElement = SaxStart;
    sax.characters = SaxText;
    sax.ignorableWhitespace = SaxText;
    sax.warning = SaxQuiet;
    sax.error = SaxQuiet;
    TSaxCount count;
    for (const std::string& page : pages) {
        htmlParserCtxtPtr ctxt =
            htmlCreatePushParserCtxt(&sax, &count, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
        htmlCtxtUseOptions(ctxt, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
        htmlParseChunk(ctxt, page.data(), static_cast<int>(page.size()), 1);
        htmlFreeParserCtxt(ctxt);
    }
    return count.elements + count.attributes + count.text;
}

#ifdef TARNHOLD_HAVE_GUMBO
std::size_t Gumbo(const std::vector<std::string>& pages) {
    std::size_t nodes = 0;
    for (const std::string& page : pages) {
        GumboOutput* output =
            gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
        nodes += output->root->v.element.children.length;
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
    return nodes;
}
#endif

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : "/usr/share/doc/python3.11/html";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::string only = argc > 3 ? argv[3] : "";
    auto runs = [&](const char* name) { return only.empty() || only == name; };
    const std::vector<std::string> pages = LoadPages(folder);
    std::size_t total = 0;
    for (const auto& p : pages)
        total += p.size();
    if (pages.empty()) {
        std::fprintf(stderr, "no .html files under %s (install python3.11-doc)\n", folder.c_str());
        return 1;
    }
    std::printf("%zu pages, %.1f MB, %d rounds\n", pages.size(), static_cast<double>(total) / 1e6,
                rounds);

    std::vector<double> walk, rewrite, libxml2, gumbo;
    std::string out;
    volatile std::size_t sink = 0;
    for (int r = 0; r < rounds; ++r) {
        double t = 0;
        if (runs("walk")) {
            t = CpuSeconds();
            sink = sink + Walk(pages, out);
            walk.push_back(CpuSeconds() - t);
        }
        if (runs("rewrite")) {
            t = CpuSeconds();
            sink = sink + Rewrite(pages, out);
            rewrite.push_back(CpuSeconds() - t);
        }
        if (runs("libxml2")) {
            t = CpuSeconds();
            sink = sink + LibXml2(pages);
            libxml2.push_back(CpuSeconds() - t);
        }
#ifdef TARNHOLD_HAVE_GUMBO
        if (runs("gumbo")) {
            t = CpuSeconds();
            sink = sink + Gumbo(pages);
            gumbo.push_back(CpuSeconds() - t);
        }
#endif
    }
    const double mb = static_cast<double>(total) / 1e6;
    auto line = [&](const char* name, const std::vector<double>& times) {
        if (times.empty())
            return;
        const double m = Median(times);
        std::printf("%-8s median %.4f s  %7.1f MB/s", name, m, mb / m);
        if (!libxml2.empty())
            std::printf("  libxml2/this %.2fx", Median(libxml2) / m);
        std::printf("\n");
    };
    line("walk", walk);
    line("rewrite", rewrite);
    line("libxml2", libxml2);
    line("gumbo", gumbo);
    if (!gumbo.empty() && !walk.empty())
        std::printf("gumbo/walk %.2fx\n", Median(gumbo) / Median(walk));
    return 0;
}
