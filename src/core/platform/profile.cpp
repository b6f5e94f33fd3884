#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/files.h"

#include <cerrno>
#include <charconv>
#include <unordered_set>

namespace tarnhold {

namespace {

constexpr std::size_t npos = std::string::npos;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::size_t SkipBlanks(std::string_view s, std::size_t i) {
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return i;
}

// Where the pieces of a "key=value" line lie.
struct TKeyLine {
    std::string_view Key;   // trimmed
    std::string_view Value; // trimmed
    std::size_t ValueStart; // offset of the value, blanks after "=" skipped
};

// False for blank lines, comments and lines without "=" or without a key.
bool ParseKeyLine(std::string_view line, TKeyLine& out) {
    std::size_t start = SkipBlanks(line, 0);
    if (start == line.size() || line[start] == ';' || line[start] == '[')
        return false;
    std::size_t eq = AnsiFind(line, "=", start);
    if (eq == npos)
        return false;
    out.Key = TrimBlanks(line.substr(start, eq - start));
    if (out.Key.empty())
        return false;
    out.ValueStart = SkipBlanks(line, eq + 1);
    out.Value = TrimBlanks(line.substr(out.ValueStart));
    return true;
}

// A "[name]" line gives the name (up to "]", or to the end of the line).
bool ParseHeader(std::string_view line, std::string_view& name) {
    std::size_t start = SkipBlanks(line, 0);
    if (start == line.size() || line[start] != '[')
        return false;
    std::string_view rest = line.substr(start + 1);
    std::size_t close = AnsiFind(rest, "]");
    name = TrimBlanks(rest.substr(0, close));
    return true;
}

bool EndsOnWholeCharacter(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size())
        i += IsLeadByte(s[i]) ? 2 : 1;
    return i == s.size();
}

// A name must end on a whole character: a lead byte at its end would take
// the "]" or "=" after it for its trail byte, and the line would not read back.
bool ValidSectionName(std::string_view name) {
    return !name.empty() && name.find_first_of("\r\n]") == npos && EndsOnWholeCharacter(name);
}

bool ValidKeyName(std::string_view key) {
    return !key.empty() && key.front() != '[' && key.front() != ';' &&
           key.find_first_of("\r\n=") == npos && EndsOnWholeCharacter(key);
}

bool ParseInteger(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return false;
    }
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    value = v;
    return true;
}

} // namespace

TProfileFile::TProfileFile(std::filesystem::path file) : FileName_(std::move(file)) {
    Reload();
}

TProfileFile::~TProfileFile() {
    if (Modified_)
        UpdateFile();
}

void TProfileFile::Reload() {
    std::string text;
    LoadError_ = 0;
    LoadFailure_ = {};
    if (!FileName_.empty()) {
        // A FIFO would block the reader, a device never end: neither is read.
        TError error = ReadRegularFile(FileName_, text);
        if (error && error.Code() != ENOENT && error.Code() != ENOTDIR) {
            LoadError_ = error.Code();
            // The reason after the file's name, with the name as ANSI text.
            std::string_view reason = error.Text();
            const std::string native = FileName_.string();
            if (reason.substr(0, native.size()) == native)
                reason.remove_prefix(native.size());
            LoadFailure_ = TError::Message(FileName_.string() + std::string(reason), LoadError_);
        }
    }
    SetText(text);
}

void TProfileFile::SetText(std::string_view text) {
    Sections_.assign(1, TSection{});
    Modified_ = false;
    Size_ = text.size();
    std::size_t firstLf = text.find('\n');
    LineEnd_ = firstLf != npos && firstLf > 0 && text[firstLf - 1] != '\r' ? "\n" : "\r\n";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::string_view line = text.substr(pos, lf == npos ? npos : lf - pos);
        pos = lf == npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string_view name;
        if (ParseHeader(line, name))
            Sections_.push_back(TSection{std::string(line), std::string(name), {}});
        else
            Sections_.back().Lines.emplace_back(line);
    }
    RebuildIndex();
}

std::string TProfileFile::Text() const {
    std::string out;
    for (std::size_t i = 0; i < Sections_.size(); ++i) {
        if (i > 0)
            out.append(Sections_[i].Header).append(LineEnd_);
        for (const auto& line : Sections_[i].Lines)
            out.append(line).append(LineEnd_);
    }
    return out;
}

void TProfileFile::RebuildIndex() {
    Index_.clear();
    for (std::size_t i = 1; i < Sections_.size(); ++i)
        Index_.emplace(AnsiLowerCase(Sections_[i].Name), i);
}

TProfileFile::TSection* TProfileFile::FindSection(std::string_view name) {
    auto it = Index_.find(AnsiLowerCase(TrimBlanks(name)));
    return it == Index_.end() ? nullptr : &Sections_[it->second];
}

const TProfileFile::TSection* TProfileFile::FindSection(std::string_view name) const {
    return const_cast<TProfileFile*>(this)->FindSection(name);
}

std::string TProfileFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    if (const TSection* s = FindSection(section)) {
        key = TrimBlanks(key);
        TKeyLine parsed;
        for (const auto& line : s->Lines) {
            if (ParseKeyLine(line, parsed) && AnsiSameText(parsed.Key, key))
                return std::string(parsed.Value);
        }
    }
    return std::string(defaultValue);
}

int TProfileFile::ReadInteger(std::string_view section, std::string_view key,
                              int defaultValue) const {
    int value = defaultValue;
    if (!ParseInteger(ReadString(section, key, {}), value))
        return defaultValue;
    return value;
}

std::optional<int> TProfileFile::ReadOptionalInteger(std::string_view section,
                                                     std::string_view key) const {
    int value = 0;
    if (!ParseInteger(ReadString(section, key, {}), value))
        return std::nullopt;
    return value;
}

bool TProfileFile::ReadBool(std::string_view section, std::string_view key,
                            bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TProfileFile::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool TProfileFile::ValueExists(std::string_view section, std::string_view key) const {
    const TSection* s = FindSection(section);
    if (s == nullptr)
        return false;
    key = TrimBlanks(key);
    TKeyLine parsed;
    for (const auto& line : s->Lines) {
        if (ParseKeyLine(line, parsed) && AnsiSameText(parsed.Key, key))
            return true;
    }
    return false;
}

std::vector<std::string> TProfileFile::ReadSections() const {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < Sections_.size(); ++i) {
        auto it = Index_.find(AnsiLowerCase(Sections_[i].Name));
        if (it != Index_.end() && it->second == i)
            names.push_back(Sections_[i].Name);
    }
    return names;
}

std::vector<std::string> TProfileFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    const TSection* s = FindSection(section);
    if (s == nullptr)
        return keys;
    std::unordered_set<std::string> seen;
    TKeyLine parsed;
    for (const auto& line : s->Lines) {
        if (ParseKeyLine(line, parsed) && seen.insert(AnsiLowerCase(parsed.Key)).second)
            keys.emplace_back(parsed.Key);
    }
    return keys;
}

bool TProfileFile::Changed() {
    Modified_ = true;
    return !AutoUpdate_ || UpdateFile();
}

bool TProfileFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (!ValidSectionName(section) || !ValidKeyName(key))
        return false;
    if (LoadError_ != 0)
        return Fail(LoadFailure_, nullptr);
    // A line break would end the line and start another key or section.
    std::string text(value);
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }

    TSection* s = FindSection(section);
    if (s == nullptr) {
        Sections_.push_back(TSection{"[" + std::string(section) + "]",
                                     std::string(section),
                                     {std::string(key) + "=" + text}});
        Index_.emplace(AnsiLowerCase(section), Sections_.size() - 1);
        return Changed();
    }
    TKeyLine parsed;
    std::size_t insertAt = 0;
    std::size_t lastKey = npos;
    for (std::size_t i = 0; i < s->Lines.size(); ++i) {
        std::string& line = s->Lines[i];
        if (!ParseKeyLine(line, parsed)) {
            if (lastKey == npos && !TrimBlanks(line).empty())
                insertAt = i + 1;
            continue;
        }
        if (AnsiSameText(parsed.Key, key)) {
            // Keep the key as it is spelt and the blanks around "=".
            std::string updated = line.substr(0, parsed.ValueStart) + text;
            if (updated == line)
                return true;
            line = std::move(updated);
            return Changed();
        }
        lastKey = i;
        insertAt = i + 1;
    }
    s->Lines.insert(s->Lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                    std::string(key) + "=" + text);
    return Changed();
}

bool TProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool TProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TProfileFile::EraseSection(std::string_view section) {
    if (LoadError_ != 0)
        return Fail(LoadFailure_, nullptr);
    section = TrimBlanks(section);
    std::size_t before = Sections_.size();
    for (std::size_t i = Sections_.size(); i-- > 1;) {
        if (AnsiSameText(Sections_[i].Name, section))
            Sections_.erase(Sections_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (Sections_.size() == before)
        return true;
    RebuildIndex();
    return Changed();
}

bool TProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    if (LoadError_ != 0)
        return Fail(LoadFailure_, nullptr);
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    bool removed = false;
    TKeyLine parsed;
    for (std::size_t i = 1; i < Sections_.size(); ++i) {
        if (!AnsiSameText(Sections_[i].Name, section))
            continue;
        auto& lines = Sections_[i].Lines;
        for (std::size_t j = lines.size(); j-- > 0;) {
            if (ParseKeyLine(lines[j], parsed) && AnsiSameText(parsed.Key, key)) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(j));
                removed = true;
            }
        }
    }
    return removed ? Changed() : true;
}

bool TProfileFile::Fail(TError error, int* code) {
    LastError_ = error.Code();
    LastFailure_ = std::move(error);
    if (code != nullptr)
        *code = LastError_;
    return false;
}

bool TProfileFile::UpdateFile(int* error) {
    if (!Modified_)
        return true;
    if (LoadError_ != 0)
        return Fail(LoadFailure_, error);
    if (FileName_.empty())
        return Fail(TError::FromErrno(ENOENT), error);
    const std::string name = FileName_.string();
    int e = 0;
    if (FileName_.has_parent_path() && !ForceDirectories(FileName_.parent_path(), &e))
        return Fail(TError::FromErrno(e, FileName_.parent_path().string()), error);
    // Through a symbolic link the file it leads to is replaced, beside itself.
    std::filesystem::path target;
    if (TError refused = ResolveFileLinks(FileName_, target))
        return Fail(std::move(refused), error);
    if (!WriteFileAtomic(target, Text(), &e)) {
        const std::string where =
            target == FileName_ ? name : target.string() + " (where " + name + " leads)";
        return Fail(TError::FromErrno(e != 0 ? e : EIO, where), error);
    }
    Modified_ = false;
    LastError_ = 0;
    LastFailure_ = {};
    return true;
}

} // namespace tarnhold
