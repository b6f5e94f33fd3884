// A page as the program reads it: the whole text of a cached HTML file, its
// character set and title, and the walk over its tokens.
//
// LoadFromFile reads the file whole, collects the tokens between the HEAD and
// /HEAD tags, takes the character set from a META Content-Type declaration or,
// failing that, from the detection of jconvert, and takes the title from the
// text after the TITLE tag, converted to Shift-JIS and cleaned. Link rewriting
// then walks Data with FirstTag and NextTag.
#pragma once

#include "text/htmltag.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Character set codes (THTMLParser::CharsetCode).
enum : std::uint8_t {
    csNone = 0,     // not determined
    csLatin1 = 1,   // ASCII or Latin-1: "ISO-8859-1"
    csShiftJIS = 2, // "Shift_JIS"
    csJIS = 3,      // "ISO-2022-JP"
    csEUCJP = 4,    // "EUC-JP"
    csUTF8 = 5,     // "UTF-8"
    csDeclared = 6, // declared by the page under a name the program does not know
};

// The code of a declared character set name: compared ignoring case after
// every "_" has become "-"; csDeclared for a name not in the table.
// "windows-1252" counts as Shift-JIS, not as Latin-1.
std::uint8_t CharsetCodeOfName(std::string_view declared);
// "ISO-8859-1", "Shift_JIS", ... for codes 1 to 5; empty for 0 and 6.
const char* CharsetCanonicalName(std::uint8_t code);
// The character set that InCodeCheck's answer stands for: plain ASCII is
// Latin-1, both JIS answers are ISO-2022-JP, binary and undecided are csNone.
std::uint8_t CharsetCodeOfDetection(int jcode);

// A title as shown: the raw text after the TITLE tag converted to Shift-JIS
// by the page's character set code (ISO-2022-JP, EUC-JP and UTF-8; others are
// kept as they are), its line breaks and blanks cleaned as an attribute value's
// are, and the seven common entities replaced. No other entity and no numeric
// reference is decoded.
std::string MakeTitle(std::string_view raw, std::uint8_t charsetCode);

class THTMLParser {
public:
    THTMLParser() = default;
    THTMLParser(const THTMLParser&) = delete;
    THTMLParser& operator=(const THTMLParser&) = delete;
    virtual ~THTMLParser() = default;

    // The file of the last successful LoadFromFile; empty otherwise.
    const std::filesystem::path& FileName() const { return fileName_; }
    // The tokens between the HEAD tag and the /HEAD tag, both excluded.
    int Count() const { return static_cast<int>(tags_.size()); }
    const THTMLTag& Tags(int index) const { return *tags_[static_cast<std::size_t>(index)]; }
    std::uint8_t CharsetCode() const { return charsetCode_; }
    // As declared (upper case, blanks removed), or the canonical name of the
    // detected set.
    const std::string& Charset() const { return charset_; }
    // Shift-JIS, cleaned; empty if the head has none.
    const std::string& Title() const { return title_; }
    // The whole page, byte for byte.
    const std::string& Data() const { return data_; }

    // Reads the file and its head. Loading the name of the last successful
    // load again does nothing (that result stands). A file that cannot be read
    // whole leaves the parser cleared; then error (if given) is the errno value.
    virtual bool LoadFromFile(const std::filesystem::path& fileName, int* error = nullptr);
    // Takes text as the page and reads its head: charset code (declared or
    // detected) and the title's raw text. Sets neither FileName nor the
    // canonical name of a detected set. Nothing happens if text equals Data.
    virtual void LoadFromText(std::string_view text);
    void Clear();

    // Token walk over Data; positions are byte offsets. FirstTag starts at 0.
    bool FirstTag(std::size_t& pos, THTMLTag& tag) const;
    bool NextTag(std::size_t& pos, THTMLTag& tag) const;

private:
    void CollectHead();
    void ReadHead();

    std::filesystem::path fileName_;
    std::vector<std::unique_ptr<THTMLTag>> tags_;
    std::uint8_t charsetCode_ = csNone;
    std::string charset_;
    std::string title_;
    std::string data_;
};

} // namespace tarnhold
