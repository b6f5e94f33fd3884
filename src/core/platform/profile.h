// Profile (INI) files: screen.dat, favorites.dat, find.dat and Internet
// shortcut (.url) files.
//
// The semantics are those of the Windows profile functions: sections in square
// brackets, "key=value" lines, section and key names matched ignoring case
// (ASCII letters, lead-byte aware), names and values trimmed of blanks when
// read, values as ANSI bytes. A missing file, section or key reads as the
// default. Writing a key rewrites its line in place (or adds one) and keeps
// every other line, comments (";") included, byte for byte.
//
// The file is read once, when the object is made; only a regular file (or a
// link to one) is read. Writes go to memory; with AutoUpdate on (the default)
// each write is flushed at once, otherwise UpdateFile() writes them all in one
// go (the destructor flushes what is left). The file is replaced atomically,
// so a crash mid-write never leaves a truncated file; a symbolic link at its
// name stays a link (the file it leads to is replaced) and the file keeps its
// permissions.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnhold {

class TProfileFile {
public:
    TProfileFile() = default;
    explicit TProfileFile(std::filesystem::path file);
    ~TProfileFile();
    TProfileFile(const TProfileFile&) = delete;
    TProfileFile& operator=(const TProfileFile&) = delete;

    const std::filesystem::path& FileName() const { return FileName_; }
    // 0 when the file was read or does not exist; else the errno of the read.
    // A file that exists but cannot be read is never overwritten: every write
    // then fails with this error.
    int LoadError() const { return LoadError_; }
    // The same with the file's name and the reason, for the user.
    const TError& LoadFailure() const { return LoadFailure_; }
    // The number of bytes read from the file (or given to SetText).
    std::size_t Size() const { return Size_; }

    bool AutoUpdate() const { return AutoUpdate_; }
    void SetAutoUpdate(bool value) { AutoUpdate_ = value; }
    // Whether writes are waiting for UpdateFile().
    bool Modified() const { return Modified_; }
    // Writes the file if anything changed (creating its folder if needed).
    bool UpdateFile(int* error = nullptr);
    // Reads the file again; unsaved writes are dropped.
    void Reload();

    // Replaces the contents by text as if it had been read from the file
    // (nothing is written). The text of the file as it would be written.
    void SetText(std::string_view text);
    std::string Text() const;

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Decimal text with an optional sign; anything else, or a number out of
    // range, reads as the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // The same without a default: nothing when the key is missing or does
    // not read as a number.
    std::optional<int> ReadOptionalInteger(std::string_view section, std::string_view key) const;
    // An integer, non-zero meaning true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Section names in file order, each once.
    std::vector<std::string> ReadSections() const;
    // Key names of a section in file order, each once.
    std::vector<std::string> ReadSection(std::string_view section) const;

    // False (nothing changed) for a section or key name that no line could
    // hold (empty, line breaks, "]" in a section, "=" in a key, a key starting
    // with "[" or ";"), or when the write to disk fails. Line breaks in a value
    // are written as blanks.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    // Removes every section of that name with all its lines.
    bool EraseSection(std::string_view section);
    // Removes the key's lines from the section.
    bool DeleteKey(std::string_view section, std::string_view key);

    // The error of the last failed write to disk (errno), or 0.
    int LastError() const { return LastError_; }
    // The same with the file's name and the reason, for the user.
    const TError& LastFailure() const { return LastFailure_; }

private:
    struct TSection {
        std::string Header; // the "[name]" line as it stands; empty for the lines before any
        std::string Name;   // trimmed name
        std::vector<std::string> Lines;
    };

    TSection* FindSection(std::string_view name);
    const TSection* FindSection(std::string_view name) const;
    void RebuildIndex();
    bool Changed();
    bool Fail(TError error, int* code);

    std::filesystem::path FileName_;
    std::vector<TSection> Sections_ = std::vector<TSection>(1); // [0]: lines before any section
    std::unordered_map<std::string, std::size_t> Index_;        // lower-cased name -> first section
    std::string LineEnd_ = "\r\n";
    bool AutoUpdate_ = true;
    bool Modified_ = false;
    int LoadError_ = 0;
    int LastError_ = 0;
    TError LoadFailure_;
    TError LastFailure_;
    std::size_t Size_ = 0;
};

} // namespace tarnhold
