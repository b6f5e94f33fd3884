#include "platform/mimetypes.h"

#include "platform/files.h"

#include <algorithm>
#include <unordered_set>

namespace tarnhold {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

std::vector<std::pair<std::string, std::string>> ParseMimeTypes(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::unordered_set<std::string> seen;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        // Words separated by blanks: the type, then its extensions.
        std::vector<std::string_view> words;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && IsBlank(line[i]))
                ++i;
            std::size_t start = i;
            while (i < line.size() && !IsBlank(line[i]))
                ++i;
            if (i > start)
                words.push_back(line.substr(start, i - start));
        }
        if (words.size() < 2 || words[0].find('/') == std::string_view::npos)
            continue;
        for (std::size_t w = 1; w < words.size(); ++w) {
            std::string ext = "." + std::string(words[w]);
            if (seen.insert(ext).second)
                pairs.emplace_back(std::move(ext), std::string(words[0]));
        }
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return pairs;
}

std::vector<std::pair<std::string, std::string>>
ReadMimeTypesFile(const std::filesystem::path& file) {
    std::string text;
    if (!ReadWholeFile(file, text))
        return {};
    return ParseMimeTypes(text);
}

} // namespace tarnhold
