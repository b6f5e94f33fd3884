#include "archive/warcwriter.h"

#include "text/urlscheme.h"

#include <algorithm>
#include <cstdio>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <random>
#include <zlib.h>

namespace tarnhold {

// ---------------------------------------------------------------------------
// Digests

struct TSha1::TState {
    sha1_ctx ctx;
};

TSha1::TSha1() : state_(std::make_unique<TState>()) {
    sha1_init(&state_->ctx);
}
TSha1::~TSha1() = default;

void TSha1::Update(std::string_view data) {
    sha1_update(&state_->ctx, data.size(), reinterpret_cast<const std::uint8_t*>(data.data()));
}

std::string TSha1::Digest() {
    std::string out(SHA1_DIGEST_SIZE, '\0');
    sha1_digest(&state_->ctx, out.size(), reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
}

void TSha1::Reset() {
    sha1_init(&state_->ctx);
}

struct TSha256::TState {
    sha256_ctx ctx;
};

TSha256::TSha256() : state_(std::make_unique<TState>()) {
    sha256_init(&state_->ctx);
}
TSha256::~TSha256() = default;

void TSha256::Update(std::string_view data) {
    sha256_update(&state_->ctx, data.size(), reinterpret_cast<const std::uint8_t*>(data.data()));
}

std::string TSha256::Digest() {
    std::string out(SHA256_DIGEST_SIZE, '\0');
    sha256_digest(&state_->ctx, out.size(), reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
}

std::string Base32(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    out.reserve((bytes.size() + 4) / 5 * 8);
    std::uint64_t bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 5) {
            out += kAlphabet[(bits >> (count - 5)) & 31];
            count -= 5;
        }
    }
    if (count > 0)
        out += kAlphabet[(bits << (5 - count)) & 31];
    while (out.size() % 8 != 0)
        out += '=';
    return out;
}

std::string HexText(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::string WarcSha1(std::string_view digest) {
    return "sha1:" + Base32(digest);
}

// ---------------------------------------------------------------------------
// Record fields

std::string NewWarcRecordId() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::uint8_t b[16];
    for (int i = 0; i < 16; i += 8) {
        const std::uint64_t r = random();
        for (int k = 0; k < 8; ++k)
            b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40); // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80); // RFC 4122 variant
    char text[64];
    std::snprintf(text, sizeof text,
                  "<urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x>",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
    return text;
}

namespace {

// A time as four-digit years write it: a later one (a damaged entry's)
// stands at the end of 9999.
SYSTEMTIME UtcParts(const FILETIME& utc) {
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(utc, st))
        FileTimeToSystemTime(FILETIME{}, st);
    if (st.wYear > 9999)
        st = MakeSystemTime(9999, 12, 31, 23, 59, 59);
    return st;
}

bool IsTokenChar(unsigned char c) {
    if (c <= 32 || c >= 127)
        return false;
    return std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) ==
           std::string_view::npos;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string WarcDate(const FILETIME& utc) {
    const SYSTEMTIME st = UtcParts(utc);
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return text;
}

std::string WarcTimestamp(const FILETIME& utc) {
    const SYSTEMTIME st = UtcParts(utc);
    char text[48];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return text;
}

std::string EncodeTargetUri(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        const bool escape =
            c <= 32 || c >= 127 ||
            std::string_view("<>\"\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos ||
            (c == '%' && !(i + 2 < url.size() && IsHex(url[i + 1]) && IsHex(url[i + 2])));
        if (escape) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string SurtKey(std::string_view uri) {
    std::string url;
    url.reserve(uri.size());
    for (char c : uri)
        url += Lower(c);
    std::string_view rest = url;
    const std::string_view scheme = rest.substr(0, SchemePrefixLength(rest));
    if (scheme != "http://" && scheme != "https://")
        return url;
    rest.remove_prefix(scheme.size());
    const std::size_t hostEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, hostEnd);
    std::string_view path = rest.substr(hostEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host = authority;
    std::string_view port;
    if (const std::size_t colon = authority.rfind(':');
        colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    const bool defaultPort = port.empty() || (scheme == "http://" && port == "80") ||
                             (scheme == "https://" && port == "443");
    // "www.", "www2." and the like are dropped.
    if (host.size() > 4 && host.substr(0, 3) == "www") {
        std::size_t i = 3;
        while (i < host.size() && host[i] >= '0' && host[i] <= '9')
            ++i;
        if (i < host.size() && host[i] == '.')
            host.remove_prefix(i + 1);
    }
    std::string key;
    key.reserve(url.size());
    for (std::size_t end = host.size(); end != std::string_view::npos;) {
        const std::size_t dot = end == 0 ? std::string_view::npos : host.rfind('.', end - 1);
        const std::size_t start = dot == std::string_view::npos ? 0 : dot + 1;
        if (!key.empty())
            key += ',';
        key.append(host.substr(start, end - start));
        end = dot;
    }
    if (!defaultPort) {
        key += ':';
        key.append(port);
    }
    key += ')';
    if (const std::size_t hash = path.find('#'); hash != std::string_view::npos)
        path = path.substr(0, hash);
    const std::size_t q = path.find('?');
    std::string_view pathPart = path.substr(0, q);
    key.append(pathPart.empty() ? std::string_view("/") : pathPart);
    if (q != std::string_view::npos && q + 1 < path.size()) {
        std::vector<std::string_view> params;
        std::string_view query = path.substr(q + 1);
        for (std::size_t start = 0; start <= query.size();) {
            std::size_t amp = query.find('&', start);
            if (amp == std::string_view::npos)
                amp = query.size();
            if (amp > start)
                params.push_back(query.substr(start, amp - start));
            start = amp + 1;
        }
        std::stable_sort(params.begin(), params.end(), [](std::string_view a, std::string_view b) {
            return a.substr(0, a.find('=')) < b.substr(0, b.find('='));
        });
        key += '?';
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (i > 0)
                key += '&';
            key.append(params[i]);
        }
    }
    return key;
}

std::string THttpHead::Value(std::string_view name) const {
    for (const auto& [n, v] : Fields) {
        if (SameName(n, name))
            return v;
    }
    return {};
}

bool THttpHead::Has(std::string_view name) const {
    return std::any_of(Fields.begin(), Fields.end(),
                       [&](const auto& f) { return SameName(f.first, name); });
}

void THttpHead::Remove(std::string_view name) {
    Fields.erase(std::remove_if(Fields.begin(), Fields.end(),
                                [&](const auto& f) { return SameName(f.first, name); }),
                 Fields.end());
}

void THttpHead::Set(std::string_view name, std::string_view value) {
    for (auto& [n, v] : Fields) {
        if (SameName(n, name)) {
            v = std::string(value);
            auto first = &v;
            // Later fields of that name go.
            Fields.erase(std::remove_if(Fields.begin(), Fields.end(),
                                        [&](const auto& f) {
                                            return SameName(f.first, name) && &f.second != first;
                                        }),
                         Fields.end());
            return;
        }
    }
    Fields.emplace_back(std::string(name), std::string(value));
}

std::string THttpHead::Text() const {
    std::string text = StatusLine + "\r\n";
    for (const auto& [n, v] : Fields)
        text += n + ": " + v + "\r\n";
    text += "\r\n";
    return text;
}

THttpHead ParseStoredHead(std::string_view stored) {
    THttpHead head;
    bool first = true;
    for (std::size_t pos = 0; pos < stored.size();) {
        std::size_t end = stored.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = stored.size();
        std::string_view line = stored.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            continue;
        if (first) {
            first = false;
            // "HTTP/1.1 200 OK": a version, a three-digit status, a reason.
            const std::size_t sp = line.find(' ');
            const std::string_view code =
                sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1, 3);
            if (line.substr(0, 5) == "HTTP/" && code.size() == 3 && code[0] >= '1' &&
                std::all_of(code.begin(), code.end(),
                            [](char c) { return c >= '0' && c <= '9'; }) &&
                (sp + 4 == line.size() || line[sp + 4] == ' ')) {
                head.Status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
                std::string status;
                for (char c : line)
                    status += static_cast<unsigned char>(c) < 32 || c == 127 ? ' ' : c;
                // HTTP/2 and 3 have no reason phrase and a version without a
                // minor number; replay tools read "HTTP/1.1".
                const std::string_view version = line.substr(0, sp);
                if (version != "HTTP/1.0" && version != "HTTP/1.1")
                    status = "HTTP/1.1" + status.substr(sp);
                head.StatusLine = status;
                continue;
            }
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        const std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(),
                         [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); }))
            continue;
        std::string value(Trim(line.substr(colon + 1)));
        for (char& c : value) {
            if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127)
                c = ' ';
        }
        head.Fields.emplace_back(std::string(name), std::move(value));
    }
    if (head.StatusLine.empty()) {
        head.StatusLine = "HTTP/1.1 200 OK";
        head.Status = 200;
    }
    if (head.StatusLine.size() == 12) // no reason phrase
        head.StatusLine += head.Status == 200 ? " OK" : " -";
    return head;
}

std::string MediaTypeOf(std::string_view contentType) {
    std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
    std::string out;
    for (char c : type)
        out += Lower(c);
    return out;
}

// ---------------------------------------------------------------------------
// The writer

struct TWarcWriter::TZ {
    z_stream packed{}; // text: compressed
    z_stream stored{}; // already compressed: stored blocks
    z_stream* current = nullptr;
    bool ready = false;
};

TWarcWriter::TWarcWriter(TArchiveOutput& out) : out_(out), z_(std::make_unique<TZ>()) {
    // windowBits 15 + 16: a gzip member with its header and trailer.
    const bool packed = deflateInit2(&z_->packed, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    const bool stored = deflateInit2(&z_->stored, 0, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    z_->ready = packed && stored;
    if (!z_->ready)
        error_ = TError::Message("the compressor could not start", ENOMEM);
    buffer_.resize(256 * 1024);
}

TWarcWriter::~TWarcWriter() {
    deflateEnd(&z_->packed);
    deflateEnd(&z_->stored);
}

TError TWarcWriter::Error() const {
    if (error_)
        return error_;
    return out_.Error();
}

bool TWarcWriter::Deflate(std::string_view data, int flush) {
    z_stream& z = *z_->current;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(buffer_.data());
        z.avail_out = static_cast<uInt>(buffer_.size());
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) {
            error_ = TError::Message("the compressor failed", EIO);
            return false;
        }
        const std::size_t n = buffer_.size() - z.avail_out;
        if (n > 0) {
            const std::string_view piece(buffer_.data(), n);
            if (!out_.Write(piece))
                return false;
            sha256_.Update(piece);
            written_ += n;
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0))
            return true;
    }
}

bool TWarcWriter::Begin(std::string_view type, std::string_view recordId, std::string_view date,
                        const std::vector<std::pair<std::string, std::string>>& fields,
                        std::uint64_t blockLength, bool store) {
    if (!z_->ready || error_ || open_)
        return false;
    z_->current = store ? &z_->stored : &z_->packed;
    deflateReset(z_->current);
    recordOffset_ = written_;
    std::string head = "WARC/1.1\r\n";
    head += "WARC-Type: ";
    head += type;
    head += "\r\nWARC-Record-ID: ";
    head += recordId;
    head += "\r\nWARC-Date: ";
    head += date;
    head += "\r\n";
    for (const auto& [name, value] : fields)
        head += name + ": " + value + "\r\n";
    head += "Content-Length: " + std::to_string(blockLength) + "\r\n\r\n";
    open_ = true;
    blockLeft_ = blockLength;
    return Deflate(head, Z_NO_FLUSH);
}

bool TWarcWriter::Block(std::string_view piece) {
    if (!open_)
        return false;
    if (piece.size() > blockLeft_) {
        error_ = TError::Message("a record's block is longer than announced", EIO);
        return false;
    }
    blockLeft_ -= piece.size();
    return Deflate(piece, Z_NO_FLUSH);
}

bool TWarcWriter::End() {
    if (!open_)
        return false;
    open_ = false;
    if (blockLeft_ != 0) {
        error_ = TError::Message("a record's block is shorter than announced", EIO);
        return false;
    }
    if (!Deflate("\r\n\r\n", Z_FINISH))
        return false;
    recordLength_ = written_ - recordOffset_;
    return true;
}

} // namespace tarnhold
