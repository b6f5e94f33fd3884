#include "cache/cachebody.h"

#include "platform/files.h"

#include <algorithm>
#include <brotli/decode.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace tarnhold {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// zlib counts in 32-bit units: input goes in pieces no larger than this.
constexpr std::size_t kMaxZlibIn = 1u << 30;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// How much one stage may write: the caller's limit, or the ratio limit of
// its input, whichever is smaller; cut says the caller's limit is the one.
struct TOutLimit {
    std::uint64_t Max = 0;
    bool Cut = false; // reaching Max is the caller's wish, not a bomb
};

TOutLimit LimitFor(std::size_t inputSize, std::uint64_t limit) {
    std::uint64_t ratio = kMinDecodedLimit;
    if (inputSize <= std::numeric_limits<std::uint64_t>::max() / kDecodedRatioLimit)
        ratio = std::max(ratio, static_cast<std::uint64_t>(inputSize) * kDecodedRatioLimit);
    else
        ratio = std::numeric_limits<std::uint64_t>::max();
    if (limit <= ratio)
        return {limit, true};
    return {ratio, false};
}

// Appends produced bytes; false when the limit is passed (out is then cut
// at it, and *full says whether that is the caller's wish).
bool Append(std::string& out, const unsigned char* data, std::size_t size, const TOutLimit& lim,
            bool& full) {
    std::uint64_t room = lim.Max - std::min<std::uint64_t>(lim.Max, out.size());
    if (size <= room) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    out.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(room));
    full = true;
    return false;
}

enum class TStep { More, Done, Failed };

bool Inflate(std::string_view in, std::string& out, const TOutLimit& lim, int windowBits) {
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return false;
    std::vector<unsigned char> buffer(kChunk);
    const auto* next = reinterpret_cast<const unsigned char*>(in.data());
    std::size_t left = in.size();
    bool ok = false;
    bool full = false;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            std::size_t piece = std::min(left, kMaxZlibIn);
            zs.next_in = const_cast<unsigned char*>(next);
            zs.avail_in = static_cast<uInt>(piece);
            next += piece;
            left -= piece;
        }
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(buffer.size());
        int ret = inflate(&zs, Z_NO_FLUSH);
        std::size_t produced = buffer.size() - zs.avail_out;
        if (!Append(out, buffer.data(), produced, lim, full)) {
            ok = lim.Cut;
            break;
        }
        if (ret == Z_STREAM_END) {
            // gzip may hold several members one after the other.
            std::size_t rest = zs.avail_in + left;
            const unsigned char* restAt = zs.next_in;
            if (windowBits > 15 && rest >= 2 && restAt[0] == 0x1f && restAt[1] == 0x8b) {
                if (inflateReset(&zs) != Z_OK)
                    break;
                continue;
            }
            ok = true; // anything after the stream is ignored
            break;
        }
        if (ret == Z_BUF_ERROR && zs.avail_in == 0 && left == 0)
            break; // the data ends before the stream does
        if (ret != Z_OK && ret != Z_BUF_ERROR)
            break;
    }
    inflateEnd(&zs);
    return ok;
}

bool Unbrotli(std::string_view in, std::string& out, const TOutLimit& lim) {
    BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    if (state == nullptr)
        return false;
    std::vector<unsigned char> buffer(kChunk);
    const auto* next = reinterpret_cast<const std::uint8_t*>(in.data());
    std::size_t left = in.size();
    bool ok = false;
    bool full = false;
    for (;;) {
        std::uint8_t* outNext = buffer.data();
        std::size_t outLeft = buffer.size();
        BrotliDecoderResult result =
            BrotliDecoderDecompressStream(state, &left, &next, &outLeft, &outNext, nullptr);
        if (!Append(out, buffer.data(), buffer.size() - outLeft, lim, full)) {
            ok = lim.Cut;
            break;
        }
        if (result == BROTLI_DECODER_RESULT_SUCCESS) {
            ok = true;
            break;
        }
        if (result != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT)
            break; // damaged, or the data ends before the stream does
    }
    BrotliDecoderDestroyInstance(state);
    return ok;
}

bool Unzstd(std::string_view in, std::string& out, const TOutLimit& lim) {
    ZSTD_DCtx* ctx = ZSTD_createDCtx();
    if (ctx == nullptr)
        return false;
    std::vector<unsigned char> buffer(kChunk);
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    bool ok = false;
    bool full = false;
    std::size_t last = 1;
    for (;;) {
        ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
        last = ZSTD_decompressStream(ctx, &output, &input);
        if (ZSTD_isError(last))
            break;
        if (!Append(out, buffer.data(), output.pos, lim, full)) {
            ok = lim.Cut;
            break;
        }
        // Done when every frame is read and flushed; an unfinished frame at
        // the end of the data is a damaged body.
        if (input.pos == input.size && output.pos < output.size) {
            ok = last == 0;
            break;
        }
    }
    ZSTD_freeDCtx(ctx);
    return ok;
}

bool DecodeOne(std::string_view coding, std::string_view in, std::string& out,
               const TOutLimit& lim) {
    out.clear();
    if (coding == "gzip" || coding == "x-gzip")
        return Inflate(in, out, lim, 15 + 16);
    if (coding == "deflate") {
        // Servers send both the zlib stream the name means and raw deflate.
        if (Inflate(in, out, lim, 15))
            return true;
        out.clear();
        return Inflate(in, out, lim, -15);
    }
    if (coding == "br")
        return Unbrotli(in, out, lim);
    if (coding == "zstd")
        return Unzstd(in, out, lim);
    return false;
}

// Reads length bytes (at most limit) from offset of a regular file.
TError ReadSlice(const std::string& file, std::uint64_t offset, std::uint64_t length,
                 std::uint64_t limit, std::string& out) {
    out.clear();
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return TError::FromErrno(errno, file);
    struct stat st {};
    TError result;
    if (::fstat(fd, &st) != 0) {
        result = TError::FromErrno(errno, file);
    } else if (!S_ISREG(st.st_mode)) {
        result = TError::FromErrno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, file);
    } else if (offset > static_cast<std::uint64_t>(st.st_size) ||
               length > static_cast<std::uint64_t>(st.st_size) - offset) {
        result = TError::Message(file + ": the cached body lies past the end of the file");
    } else {
        std::uint64_t want = std::min(length, limit);
        if (want > out.max_size()) {
            result = TError::FromErrno(ENOMEM, file);
        } else {
            out.resize(static_cast<std::size_t>(want));
            std::size_t done = 0;
            while (done < out.size()) {
                ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    result = TError::FromErrno(errno, file);
                    break;
                }
                if (n == 0) {
                    result = TError::Message(file + ": the file ended before the cached body");
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            if (result)
                out.clear();
        }
    }
    ::close(fd);
    return result;
}

// The Content-Encoding list's codings, in the order named; "identity" and
// empty names left out.
std::vector<std::string> Codings(std::string_view encoding) {
    std::vector<std::string> codings;
    for (std::size_t pos = 0; pos <= encoding.size();) {
        std::size_t comma = encoding.find(',', pos);
        if (comma == std::string_view::npos)
            comma = encoding.size();
        std::string name = Lower(Trim(encoding.substr(pos, comma - pos)));
        if (!name.empty() && name != "identity")
            codings.push_back(std::move(name));
        pos = comma + 1;
    }
    return codings;
}

} // namespace

bool IsPlainCacheBody(const TWebCacheEntryInfo& entry) {
    return entry.BodyLength < 0 && Codings(entry.ContentEncoding).empty();
}

bool DecodeContent(std::string_view encoding, std::string_view data, std::string& out,
                   std::uint64_t limit) {
    out.clear();
    const std::vector<std::string> codings = Codings(encoding);
    if (codings.empty()) {
        out.assign(
            data.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size()))));
        return true;
    }
    // The coding named last was applied last: undo it first. Every stage but
    // the last is decoded whole (within the ratio limit), so that the next
    // one sees a complete stream.
    std::string stage(data);
    for (std::size_t i = codings.size(); i-- > 0;) {
        const bool lastStage = i == 0;
        TOutLimit lim =
            LimitFor(stage.size(), lastStage ? limit : std::numeric_limits<std::uint64_t>::max());
        std::string decoded;
        if (!DecodeOne(codings[i], stage, decoded, lim)) {
            out.clear();
            return false;
        }
        stage = std::move(decoded);
    }
    out = std::move(stage);
    return true;
}

TError ReadCacheBody(const TWebCacheEntryInfo& entry, std::string& out, std::uint64_t limit,
                     bool* storedAsIs, const std::function<bool(std::string_view)>& enough) {
    if (storedAsIs != nullptr)
        *storedAsIs = false;
    out.clear();
    if (entry.LocalFileName.empty())
        return TError::FromErrno(ENOENT, "no cached copy");
    if (Codings(entry.ContentEncoding).empty()) {
        if (entry.BodyLength >= 0)
            return ReadSlice(entry.LocalFileName, entry.BodyOffset,
                             static_cast<std::uint64_t>(entry.BodyLength), limit, out);
        std::size_t cap = limit > std::numeric_limits<std::size_t>::max()
                              ? std::numeric_limits<std::size_t>::max()
                              : static_cast<std::size_t>(limit);
        return ReadRegularFile(entry.LocalFileName, out, cap, enough);
    }
    // An encoded body is read whole: its decoded start needs all that comes
    // before it, and a cut stream would not decode.
    std::string stored;
    TError error;
    if (entry.BodyLength >= 0) {
        error = ReadSlice(entry.LocalFileName, entry.BodyOffset,
                          static_cast<std::uint64_t>(entry.BodyLength),
                          std::numeric_limits<std::uint64_t>::max(), stored);
    } else {
        error = ReadRegularFile(entry.LocalFileName, stored);
    }
    if (error)
        return error;
    if (DecodeContent(entry.ContentEncoding, stored, out, limit))
        return {};
    if (storedAsIs != nullptr)
        *storedAsIs = true;
    if (stored.size() > limit)
        stored.resize(static_cast<std::size_t>(limit));
    out = std::move(stored);
    return {};
}

} // namespace tarnhold
