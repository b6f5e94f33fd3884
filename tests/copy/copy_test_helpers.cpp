#include "copy/copy_test_helpers.h"

#include "platform/codepage.h"
#include "text/htmltag.h"

#include <algorithm>

namespace tarnhold::test {

namespace fs = std::filesystem;

TSiteFixture::TSiteFixture() {
    fs::create_directories(dir_.Path() / "cache");
}

void TSiteFixture::Add(const std::string& url, const std::string& content,
                       const std::string& contentType, int day) {
    fs::path file = dir_.Path() / "cache" / ("f" + std::to_string(specs_.size()) + ".bin");
    WriteFileBytes(file, content);
    specs_.push_back({url, contentType, day, content.size(), file});
}

void TSiteFixture::AddMissing(const std::string& url, const std::string& contentType) {
    specs_.push_back({url, contentType, 1, 10, dir_.Path() / "cache" / "missing.bin"});
}

void TSiteFixture::AddStored(const std::string& url, const std::string& stored,
                             const std::string& contentType, const std::string& encoding,
                             std::uint64_t offset, std::int64_t length) {
    fs::path file = dir_.Path() / "cache" / ("f" + std::to_string(specs_.size()) + ".bin");
    WriteFileBytes(file, stored);
    specs_.push_back({url, contentType, 1, stored.size(), file});
    stored_[specs_.size() - 1] = {encoding, offset, length};
}

void TSiteFixture::AddFile(const std::string& url, const fs::path& file,
                           const std::string& contentType) {
    specs_.push_back({url, contentType, 1, 10, file});
}

std::unique_ptr<TWebCacheTree> TSiteFixture::Tree(bool enableScheme) {
    std::vector<TRawCacheEntry> raw;
    for (std::size_t i = 0; i < specs_.size(); ++i) {
        raw.push_back(testing::MakeRawEntry(specs_[i]));
        if (auto it = stored_.find(i); it != stored_.end()) {
            raw.back().ContentEncoding = it->second.Encoding;
            raw.back().BodyOffset = it->second.Offset;
            raw.back().BodyLength = it->second.Length;
        }
    }
    auto tree = testing::MakeTreeFromRaw(std::move(raw), enableScheme);
    testing::Refresh(*tree);
    return tree;
}

TOverwriteAnswer TScriptedPrompts::AskOverwrite(const TWebCacheTreeNode&, const fs::path& path) {
    Asked.push_back(path);
    return next_ < answers_.size() ? answers_[next_++] : TOverwriteAnswer::Cancel;
}

std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file())
            files.push_back(fs::relative(it->path(), folder).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> LinkValues(const std::string& page) {
    std::vector<std::string> values;
    THTMLTag tag;
    for (std::size_t pos = 0; NextTag(page, pos, tag);) {
        if (tag.Kind() != tkTag)
            continue;
        for (int i = 0; i < tag.Count(); ++i) {
            std::string name = AnsiLowerCase(tag.Elements(i).Name());
            if (name == "href" || name == "src" || name == "background")
                values.push_back(tag.Elements(i).Value());
        }
    }
    return values;
}

std::string PercentDecode(std::string_view link) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%' && i + 2 < link.size() && hex(link[i + 1]) >= 0 &&
            hex(link[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(link[i + 1]) * 16 + hex(link[i + 2])));
            i += 2;
        } else {
            out.push_back(link[i]);
        }
    }
    return out;
}

} // namespace tarnhold::test
