// A page as the program reads it: the whole text of a cached HTML file, its
// character set and title, and the walk over its tokens.
//
// LoadFromFile reads the file whole, collects the tokens between the HEAD and
// /HEAD tags, takes the character set from, in this order, a byte order mark,
// the charset the server declared, a META declaration (charset, or
// http-equiv Content-Type) and the detection, and takes the title from the
// text after the TITLE tag, converted to UTF-8 and cleaned. Link rewriting
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

// The code of a declared character set name, as browsers read the name
// (EncodingOfLabel); Latin-1, ASCII and windows-1252 are csLatin1, a name of
// another known set csDeclared, an unknown name csNone.
std::uint8_t CharsetCodeOfName(std::string_view declared);
// The code of an encoding's canonical name.
std::uint8_t CharsetCodeOfEncoding(std::string_view encoding);
// "ISO-8859-1", "Shift_JIS", ... for codes 1 to 5; empty for 0 and 6.
const char* CharsetCanonicalName(std::uint8_t code);
// The character set that InCodeCheck's answer stands for: plain ASCII is
// Latin-1, both JIS answers are ISO-2022-JP, binary and undecided are csNone.
std::uint8_t CharsetCodeOfDetection(int jcode);

// A title as shown, in UTF-8: the raw text after the TITLE tag converted from
// the page's encoding (a canonical name), its line breaks and blanks cleaned
// as an attribute value's are, the seven common entities replaced and
// numeric character references decoded.
std::string MakeTitle(std::string_view raw, std::string_view encoding);

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
    // The encoding the page is read in (a canonical name, "UTF-8",
    // "Shift_JIS", "windows-1252", ...).
    const std::string& Encoding() const { return encoding_; }
    // Whether a byte order mark, the server or the page named it (rather
    // than the detection).
    bool EncodingDeclared() const { return declared_; }
    // UTF-8, cleaned; empty if the head has none.
    const std::string& Title() const { return title_; }

    // The charset parameter of the Content-Type the server sent with the
    // page, for the loads that follow; it counts before the page's own
    // declarations. Empty for none.
    void SetHeaderCharset(std::string_view label);
    // The whole page, byte for byte.
    const std::string& Data() const { return data_; }

    // Reads the file and its head. Loading the name of the last successful
    // load again does nothing (that result stands). A file that cannot be read
    // whole leaves the parser cleared; then error (if given) is the errno value.
    virtual bool LoadFromFile(const std::filesystem::path& fileName, int* error = nullptr);
    // Takes text as the page and reads its head: the encoding and the
    // title. Does not set FileName. Nothing happens if text equals Data.
    virtual void LoadFromText(std::string_view text);
    void Clear();

    // Token walk over Data; positions are byte offsets. FirstTag starts at 0.
    bool FirstTag(std::size_t& pos, THTMLTag& tag) const;
    bool NextTag(std::size_t& pos, THTMLTag& tag) const;

private:
    void CollectHead();
    std::string ReadHead(std::string& metaLabel);
    void Finish();

    std::filesystem::path fileName_;
    std::vector<std::unique_ptr<THTMLTag>> tags_;
    std::uint8_t charsetCode_ = csNone;
    std::string charset_;
    std::string encoding_;
    std::string headerCharset_;
    bool declared_ = false;
    std::string title_;
    std::string data_;
};

} // namespace tarnhold
