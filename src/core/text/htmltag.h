// The HTML tokenizer's token and attribute: THTMLTag holds one token of a page
// (a run of text, a tag, a comment or a DOCTYPE declaration) and, for a tag,
// its attributes as THTMLEllement objects.
//
// Nothing here validates and nothing fails: every byte string yields a token,
// and a token's Text is always exactly the bytes it was cut from. A caller
// changes a page by changing an attribute through its setters; the attribute
// rebuilds its own text and the tag puts it in place of the attribute's old
// text, so that nothing else of the tag (spacing, case, order, the other
// attributes) changes.
//
// The scanning works on bytes. The markup bytes it looks for ("<", ">", "=",
// "/", quotes, blanks) are all below 0x40 and so never the second byte of a
// Shift-JIS character; ISO-2022-JP kanji runs, whose 7-bit bytes could be read
// as markup, are stepped over two bytes at a time. Positions are 0-based byte
// offsets; std::string::npos means "none".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

enum THTMLTokenKind : std::uint8_t {
    tkNone = 0,    // cleared, no token
    tkDoctype = 1, // a declaration named "!DOCTYPE" (any case)
    tkTag = 2,     // any other tag: start and end tags, processing instructions
    tkText = 3,    // a run of text; also a "<" after which no name can be read
    tkComment = 4, // a tag whose name begins with "!--"
};

// ESC "$" followed by "@", "B" or "D" (either case): a switch into JIS kanji.
bool IsJISKanjiIn(std::string_view text, std::size_t pos);
// ESC "(" followed by "B", "I" or "J" (either case): back to one-byte text.
bool IsJISKanjiOut(std::string_view text, std::size_t pos);

// The position of the first byte at or after start that is one of delimiters
// and stands outside JIS kanji runs and (when honourQuotes) outside quotes; npos
// if there is none. A quote does not open when the byte before it is the same
// quote character, and a ">" straight after a quote character counts even
// inside a quote, so that a tag such as <a title='it's'> still ends.
std::size_t FindDelimiter(std::size_t start, std::string_view text, std::string_view delimiters,
                          bool honourQuotes);

// Reads one word of a tag at pos and moves pos past it: blanks and control
// bytes are skipped first (stopping at a JIS kanji switch or a Shift-JIS lead
// byte), then the word runs to the first byte that is not graphic (0x21-0x7E)
// outside quotes, or through the quote that closes the first one. A trailing
// "/>" and then a trailing ">" are given back. The result views text.
std::string_view ReadWord(std::size_t& pos, std::string_view text);

// Line breaks in a quoted value: CR LF and CR become LF; an LF followed
// directly by text is removed, an LF followed by blanks and text becomes one
// space with the blanks, and an LF followed only by blanks ends the value.
// The result is trimmed. So a URL broken over two lines comes back whole.
std::string NormalizeAttributeValue(std::string_view value);
// The same, into out (its earlier contents replaced, its storage reused).
void NormalizeAttributeValue(std::string_view value, std::string& out);

// One attribute of a tag: Name, Equal ("=" and any blanks after it), Quote and
// Value, and its own raw Text within the tag.
class THTMLEllement {
public:
    // Called when Text changes through SetName, SetValue or SetQuote.
    using TChangeEvent = std::function<void(
        THTMLEllement& sender, int index, const std::string& oldText, const std::string& newText)>;

    THTMLEllement() = default;
    THTMLEllement(const THTMLEllement&) = delete;
    THTMLEllement& operator=(const THTMLEllement&) = delete;
    virtual ~THTMLEllement() = default;

    // Place in the owning tag's list when the tag was parsed; -1 until then.
    // Not renumbered when an earlier attribute is deleted.
    int Index() const { return index_; }
    void SetIndex(int index) { index_ = index; }

    const std::string& Name() const { return name_; }
    const std::string& Equal() const { return equal_; }
    // Without the quotes; a quoted value has been through NormalizeAttributeValue.
    const std::string& Value() const { return value_; }
    const std::string& Quote() const { return quote_; }
    const std::string& Text() const { return text_; }

    // Each stores its part, rebuilds Text and reports the change; nothing
    // happens when the part is unchanged. A value is written as given (not
    // quoted or escaped anew); on an attribute without "=" it does not appear
    // in Text.
    virtual void SetName(std::string_view name);
    virtual void SetValue(std::string_view value);
    virtual void SetQuote(std::string_view quote);
    // Parses an attribute's raw text into its parts (no change is reported).
    virtual void SetText(std::string_view text);

    const TChangeEvent& OnChange() const { return onChange_; }
    void SetOnChange(TChangeEvent handler) { onChange_ = std::move(handler); }

private:
    friend class THTMLTag;

    void Rebuild();
    // SetText's parsing, done whatever Text held before.
    void Parse(std::string_view text);

    int index_ = -1;
    std::string name_;
    std::string equal_;
    std::string value_;
    std::string quote_;
    std::string text_;
    std::string oldText_; // the text before the last change; its storage is reused
    TChangeEvent onChange_;
};

// One token. The same object is reused for every token of a walk: SetText
// replaces the previous token and its attributes.
class THTMLTag {
public:
    THTMLTag() = default;
    // Elements report their changes to the tag that owns them, so a tag stays
    // where it was made.
    THTMLTag(const THTMLTag&) = delete;
    THTMLTag& operator=(const THTMLTag&) = delete;
    virtual ~THTMLTag() = default;

    THTMLTokenKind Kind() const { return kind_; }
    // As written (case kept); empty for text and comments.
    const std::string& Name() const { return name_; }
    int Count() const { return static_cast<int>(count_); }
    // An attribute is cut out of the tag when the tag is read, and parsed
    // into its parts the first time it is asked for.
    THTMLEllement& Elements(int index) { return Element(static_cast<std::size_t>(index)); }
    const THTMLEllement& Elements(int index) const {
        return Element(static_cast<std::size_t>(index));
    }
    // The token with every change of its attributes in place. Changes are
    // gathered and the text is put together once when asked for, so that
    // changing every attribute of a long tag costs time in proportion to
    // the tag, not to its length times its attributes.
    const std::string& Text() const;
    // The same without copying a token that views its page (NextTagInPlace)
    // and has not changed; valid until the tag changes.
    std::string_view TextView() const;
    // Where the attribute's own text stands in Text (kept up to date as
    // attributes change length or are deleted).
    std::size_t ElementOffset(int index) const;

    // Parses a token unless it equals the current Text.
    virtual void SetText(std::string_view text);
    // Removes the attribute's own text from Text (the blanks around it stay)
    // and the attribute from the list; later attributes move down one place.
    // Ignored for an index that is not in the list.
    void DeleteElement(int index);
    // Removes every attribute for which remove says so, as DeleteElement
    // does, in one pass.
    void DeleteElements(const std::function<bool(const THTMLEllement&)>& remove);
    void Clear();

private:
    friend bool NextTagInPlace(std::string_view data, std::size_t& pos, THTMLTag& tag);
    // Takes text as the token without copying it (see NextTagInPlace).
    void View(std::string_view text);
    // Reads the kind, the name and the attributes' places of source_.
    void Read();
    THTMLEllement& Element(std::size_t index) const;
    bool ReadAttributeText(std::size_t& pos, std::string_view& attribute);
    bool EqualFollows(std::size_t from);
    // Puts the changed attributes' texts in their places.
    void Assemble() const;

    // A stretch of text_: where an attribute's text stood when the text was
    // last put together, and whether the attribute has been parsed from it.
    struct TSpan {
        std::size_t Offset;
        std::size_t Length;
        bool Parsed = true;
    };

    THTMLTokenKind kind_ = tkNone;
    std::string name_;
    // The attributes are the first count_ of elements_; the rest are kept
    // from earlier tokens to be used again, so that a walk does not allocate
    // an attribute per tag.
    std::vector<std::unique_ptr<THTMLEllement>> elements_;
    std::size_t count_ = 0;
    mutable std::vector<TSpan> spans_;   // parallel to the attributes
    mutable std::vector<TSpan> removed_; // deleted attributes' places, in no order
    mutable std::string text_;
    // The token's text: text_, or the page's own bytes while the token views
    // them (viewing_) and has not been copied or changed.
    mutable std::string_view source_;
    mutable bool viewing_ = false;
    mutable std::string assembled_; // Assemble's scratch, kept for its storage
    mutable bool stale_ = false;    // an attribute changed since text_ was put together

    // Scratch of ReadAttributeText: for each position of the tag text, whether
    // an "=" outside quotes follows it (-1 unknown). Filled only for tags that
    // need it, so that a long tag full of attributes without values is not
    // searched to its end once per attribute.
    std::vector<std::int8_t> equalMemo_;
    std::vector<std::size_t> equalPath_;
    bool equalMemoReady_ = false;
};

// Reads the token of data that begins at pos into tag and moves pos past it: a
// tag runs from "<" through the first ">" outside quotes, text up to the next
// "<"; either may run to the end of data. False, with tag unchanged, when pos
// is at or past the end. The tokens of a walk from 0 cover data exactly.
bool NextTag(std::string_view data, std::size_t& pos, THTMLTag& tag);
// NextTag for a walk that writes each token out as it goes: the tag views the
// token in data instead of copying it, so data must stay as it is for as long
// as the tag is read. Text() copies it out on demand; TextView() does not.
bool NextTagInPlace(std::string_view data, std::size_t& pos, THTMLTag& tag);

} // namespace tarnhold
