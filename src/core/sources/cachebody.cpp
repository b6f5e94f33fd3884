#include "sources/cachebody.h"

#include "platform/files.h"
#include "sources/firefox/firefoxcache.h"

#include <algorithm>
#include <brotli/decode.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace tarnhold {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

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

// How a step of the pipeline ended.
enum class TStep {
    More,   // went on; more input is welcome
    Stop,   // the sink wants no more
    Failed, // the data is damaged, or grew past the limit
};

using TEmit = std::function<TStep(std::string_view)>;

// One coding undone as its stream arrives, in pieces of any size.
class TStage {
public:
    virtual ~TStage() = default;
    virtual TStep Push(std::string_view in, const TEmit& emit) = 0;
    // The input has ended: Failed when the stream has not.
    virtual TStep Finish(const TEmit& emit) = 0;
};

class TInflateStage : public TStage {
public:
    // gzip: members one after the other; deflate: the zlib stream the name
    // means or, as servers send too, raw deflate, told by the first bytes.
    explicit TInflateStage(bool gzip) : gzip_(gzip), buffer_(kChunk) {}
    ~TInflateStage() override {
        if (initialised_)
            inflateEnd(&zs_);
    }

    TStep Push(std::string_view in, const TEmit& emit) override {
        for (;;) {
            if (state_ == TState::Ended || in.empty())
                return TStep::More; // anything after the stream is ignored
            if (state_ == TState::Running) {
                TStep step = Run(in, emit);
                if (step != TStep::More || in.empty())
                    return step;
                continue; // a gzip member ended inside the piece
            }
            // The first two bytes decide: how a deflate stream is wrapped,
            // whether another gzip member follows the last one.
            if (held_.size() + in.size() < 2) {
                held_.append(in);
                return TStep::More;
            }
            const auto b0 = static_cast<unsigned char>(held_.empty() ? in[0] : held_[0]);
            const auto b1 = static_cast<unsigned char>(held_.empty() ? in[1] : in[0]);
            if (!Begin(b0, b1))
                return state_ == TState::Ended ? TStep::More : TStep::Failed;
            if (!held_.empty()) {
                const std::string first = std::move(held_);
                held_.clear();
                std::string_view rest = first;
                TStep step = Run(rest, emit);
                if (step != TStep::More)
                    return step;
                // A member cannot end within one byte; should it, the byte
                // starts the next member's check.
                held_.assign(rest);
            }
        }
    }

    TStep Finish(const TEmit&) override {
        // A stream cut short is damaged; bytes after a finished one are not.
        return state_ == TState::Ended || state_ == TState::BetweenMembers ? TStep::More
                                                                           : TStep::Failed;
    }

private:
    enum class TState { Start, Running, BetweenMembers, Ended };

    bool Begin(unsigned char b0, unsigned char b1) {
        if (state_ == TState::BetweenMembers) {
            if (b0 != 0x1f || b1 != 0x8b) {
                state_ = TState::Ended; // not another member: the rest is ignored
                held_.clear();
                return false;
            }
            if (inflateReset(&zs_) != Z_OK)
                return false;
            state_ = TState::Running;
            return true;
        }
        int windowBits = 15 + 16;
        if (!gzip_) {
            const bool zlib = (b0 & 0x0f) == 8 && (b0 >> 4) <= 7 && ((b0 << 8) | b1) % 31 == 0;
            windowBits = zlib ? 15 : -15;
        }
        if (inflateInit2(&zs_, windowBits) != Z_OK)
            return false;
        initialised_ = true;
        state_ = TState::Running;
        return true;
    }

    // Inflates in; what follows the end of a stream is left in in.
    TStep Run(std::string_view& in, const TEmit& emit) {
        zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        zs_.avail_in = static_cast<uInt>(in.size()); // pieces are far below 4 GiB
        in = {};
        for (;;) {
            zs_.next_out = buffer_.data();
            zs_.avail_out = static_cast<uInt>(buffer_.size());
            const int ret = inflate(&zs_, Z_NO_FLUSH);
            const std::size_t produced = buffer_.size() - zs_.avail_out;
            if (produced > 0) {
                TStep step =
                    emit(std::string_view(reinterpret_cast<const char*>(buffer_.data()), produced));
                if (step != TStep::More)
                    return step;
            }
            if (ret == Z_STREAM_END) {
                state_ = gzip_ ? TState::BetweenMembers : TState::Ended;
                in = std::string_view(reinterpret_cast<const char*>(zs_.next_in), zs_.avail_in);
                zs_.avail_in = 0;
                return TStep::More;
            }
            if (ret == Z_BUF_ERROR || (ret == Z_OK && zs_.avail_in == 0 && zs_.avail_out > 0))
                return TStep::More; // all input taken: wait for more
            if (ret != Z_OK)
                return TStep::Failed;
        }
    }

    bool gzip_;
    bool initialised_ = false;
    TState state_ = TState::Start;
    std::string held_; // first bytes, until there are two
    z_stream zs_{};
    std::vector<unsigned char> buffer_;
};

class TBrotliStage : public TStage {
public:
    TBrotliStage()
        : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)), buffer_(kChunk) {}
    ~TBrotliStage() override {
        if (state_ != nullptr)
            BrotliDecoderDestroyInstance(state_);
    }

    TStep Push(std::string_view in, const TEmit& emit) override {
        if (state_ == nullptr)
            return TStep::Failed;
        if (done_)
            return TStep::More;
        const auto* next = reinterpret_cast<const std::uint8_t*>(in.data());
        std::size_t left = in.size();
        for (;;) {
            std::uint8_t* outNext = buffer_.data();
            std::size_t outLeft = buffer_.size();
            const BrotliDecoderResult result =
                BrotliDecoderDecompressStream(state_, &left, &next, &outLeft, &outNext, nullptr);
            const std::size_t produced = buffer_.size() - outLeft;
            if (produced > 0) {
                TStep step =
                    emit(std::string_view(reinterpret_cast<const char*>(buffer_.data()), produced));
                if (step != TStep::More)
                    return step;
            }
            if (result == BROTLI_DECODER_RESULT_SUCCESS) {
                done_ = true;
                return TStep::More;
            }
            if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT)
                return TStep::More;
            if (result != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT)
                return TStep::Failed;
        }
    }

    TStep Finish(const TEmit&) override { return done_ ? TStep::More : TStep::Failed; }

private:
    BrotliDecoderState* state_;
    bool done_ = false;
    std::vector<unsigned char> buffer_;
};

class TZstdStage : public TStage {
public:
    TZstdStage() : ctx_(ZSTD_createDCtx()), buffer_(kChunk) {}
    ~TZstdStage() override { ZSTD_freeDCtx(ctx_); }

    TStep Push(std::string_view in, const TEmit& emit) override {
        if (ctx_ == nullptr)
            return TStep::Failed;
        ZSTD_inBuffer input{in.data(), in.size(), 0};
        for (;;) {
            ZSTD_outBuffer output{buffer_.data(), buffer_.size(), 0};
            last_ = ZSTD_decompressStream(ctx_, &output, &input);
            if (ZSTD_isError(last_))
                return TStep::Failed;
            if (output.pos > 0) {
                TStep step = emit(
                    std::string_view(reinterpret_cast<const char*>(buffer_.data()), output.pos));
                if (step != TStep::More)
                    return step;
            }
            if (input.pos == input.size && output.pos < output.size)
                return TStep::More;
        }
    }

    // Done when every frame is read and flushed; an unfinished frame at the
    // end of the data is a damaged body.
    TStep Finish(const TEmit&) override { return last_ == 0 ? TStep::More : TStep::Failed; }

private:
    ZSTD_DCtx* ctx_;
    std::size_t last_ = 1;
    std::vector<unsigned char> buffer_;
};

std::unique_ptr<TStage> MakeStage(const std::string& coding) {
    if (coding == "gzip" || coding == "x-gzip")
        return std::make_unique<TInflateStage>(true);
    if (coding == "deflate")
        return std::make_unique<TInflateStage>(false);
    if (coding == "br")
        return std::make_unique<TBrotliStage>();
    if (coding == "zstd")
        return std::make_unique<TZstdStage>();
    return nullptr;
}

// The stack of codings of one body, the one applied last undone first, each
// stage's output fed to the next and the last one's to the sink. Every
// stage may write at most limit bytes in all.
class TDecoder {
public:
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    // Null stages when a coding is unknown: Valid() is false.
    TDecoder(const std::vector<std::string>& codings, std::uint64_t limit, TBodySink& sink)
        : limit_(limit), sink_(sink) {
        for (std::size_t i = codings.size(); i-- > 0;) {
            std::unique_ptr<TStage> stage = MakeStage(codings[i]);
            if (!stage) {
                stages_.clear();
                valid_ = false;
                return;
            }
            stages_.push_back(std::move(stage));
        }
        written_.assign(stages_.size(), 0);
        emits_.resize(stages_.size());
        for (std::size_t i = 0; i < stages_.size(); ++i) {
            emits_[i] = [this, i](std::string_view piece) -> TStep {
                written_[i] += piece.size();
                if (written_[i] > limit_) {
                    overLimit_ = true;
                    return TStep::Failed;
                }
                if (i + 1 < stages_.size())
                    return stages_[i + 1]->Push(piece, emits_[i + 1]);
                delivered_ += piece.size();
                return sink_.Write(piece) ? TStep::More : TStep::Stop;
            };
        }
    }

    bool Valid() const { return valid_; }
    bool OverLimit() const { return overLimit_; }
    std::uint64_t Delivered() const { return delivered_; }

    TStep Push(std::string_view in) { return stages_.front()->Push(in, emits_.front()); }

    // Ends each stage in turn: what one flushes at its end feeds the next.
    TStep Finish() {
        for (std::size_t i = 0; i < stages_.size(); ++i) {
            TStep step = stages_[i]->Finish(emits_[i]);
            if (step != TStep::More)
                return step;
        }
        return TStep::More;
    }

private:
    std::uint64_t limit_;
    TBodySink& sink_;
    bool valid_ = true;
    bool overLimit_ = false;
    std::uint64_t delivered_ = 0;
    std::vector<std::unique_ptr<TStage>> stages_;
    std::vector<std::uint64_t> written_;
    std::vector<TEmit> emits_;
};

// Checks stored bytes, as they pass, against the checksum the cache keeps.
class TChecker {
public:
    TChecker(const TBodyCheck& check, int fd) : check_(check), fd_(fd) {}

    void Reset() {
        crc_ = ::crc32(0, nullptr, 0);
        seen_ = 0;
        chunk_.clear();
        failed_ = false;
    }
    void Take(std::string_view piece) {
        if (check_.Kind == TBodyCheck::Crc32) {
            for (std::size_t at = 0; at < piece.size(); at += kMaxZlibPiece) {
                const std::size_t n = std::min(kMaxZlibPiece, piece.size() - at);
                crc_ = ::crc32(crc_, reinterpret_cast<const Bytef*>(piece.data() + at),
                               static_cast<uInt>(n));
            }
        } else if (check_.Kind == TBodyCheck::FirefoxChunks) {
            // Whole chunks of the covered bytes are hashed as they fill.
            while (!piece.empty() && seen_ < check_.Covered) {
                const std::uint64_t chunkEnd = std::min<std::uint64_t>(
                    (seen_ / kFirefoxChunk + 1) * kFirefoxChunk, check_.Covered);
                const auto n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(piece.size(), chunkEnd - seen_));
                chunk_.append(piece.substr(0, n));
                piece.remove_prefix(n);
                seen_ += n;
                if (seen_ == chunkEnd) {
                    failed_ = failed_ || !ChunkFits((seen_ - 1) / kFirefoxChunk);
                    chunk_.clear();
                }
            }
        }
    }
    // After every stored byte was taken: whether they fail the check.
    bool Failed() const {
        if (check_.Kind == TBodyCheck::Crc32)
            return static_cast<std::uint32_t>(crc_) != check_.Crc;
        return failed_;
    }

private:
    static constexpr std::uint64_t kFirefoxChunk = 256 * 1024;
    static constexpr std::size_t kMaxZlibPiece = 1u << 30;

    bool ChunkFits(std::uint64_t index) {
        unsigned char stored[2];
        const std::uint64_t at = check_.HashesAt + 2 * index;
        if (ReadAt(fd_, stored, 2, at) != 2)
            return false; // the hash the chunk needs is not there
        const auto want = static_cast<std::uint16_t>((stored[0] << 8) | stored[1]);
        return static_cast<std::uint16_t>(FirefoxHash(chunk_)) == want;
    }

    const TBodyCheck& check_;
    int fd_;
    uLong crc_ = 0;
    std::uint64_t seen_ = 0;
    std::string chunk_;
    bool failed_ = false;
};

// The stored bytes of a body: a slice of a regular file, read in pieces.
class TStoredBody {
public:
    TError Open(const TCachedBody& entry) {
        if (entry.Store) {
            // Kept by the source that gave out the entry, which checks it.
            if (entry.BodyLength < 0)
                return TError::Message(entry.LocalFileName + ": the cached body has no length",
                                       EIO);
            store_ = entry.Store;
            storeKey_ = entry.StoreKey;
            length_ = static_cast<std::uint64_t>(entry.BodyLength);
            file_ = entry.LocalFileName;
            return {};
        }
        const std::string& file = entry.LocalFileName;
        fd_.Reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (!fd_.Valid())
            return TError::FromErrno(errno, file);
        struct stat st {};
        if (::fstat(fd_.Get(), &st) != 0)
            return TError::FromErrno(errno, file);
        if (!S_ISREG(st.st_mode))
            return TError::Message(file + ": not a regular file",
                                   S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (entry.BodyLength < 0) {
            offset_ = 0;
            length_ = size;
        } else {
            offset_ = entry.BodyOffset;
            length_ = static_cast<std::uint64_t>(entry.BodyLength);
            if (offset_ > size || length_ > size - offset_)
                return TError::Message(file + ": the cached body lies past the end of the file",
                                       EIO);
        }
        file_ = file;
        if (entry.BodyCheck.Kind != TBodyCheck::None)
            checker_ = std::make_unique<TChecker>(entry.BodyCheck, fd_.Get());
        return {};
    }

    std::uint64_t Length() const { return length_; }
    // Whether a read that took every stored byte found them failing the
    // cache's checksum.
    bool ChecksumFailed() const { return checkFailed_; }

    // Hands the stored bytes to take piece by piece, from the start, until
    // take says other than More. The step take ended with (More: all read).
    TError Read(const std::function<TStep(std::string_view)>& take, TStep& last) {
        if (checker_)
            checker_->Reset();
        TError error = ReadPieces(take, last);
        if (!error && last == TStep::More && checker_ && checker_->Failed())
            checkFailed_ = true;
        return error;
    }

private:
    TError ReadPieces(const std::function<TStep(std::string_view)>& take, TStep& last) {
        if (store_)
            return ReadFromStore(take, last);
        std::vector<char> buffer(static_cast<std::size_t>(
            std::min<std::uint64_t>(kChunk, std::max<std::uint64_t>(length_, 1))));
        std::uint64_t done = 0;
        last = TStep::More;
        while (done < length_) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length_ - done));
            const ssize_t n = ReadAt(fd_.Get(), buffer.data(), want, offset_ + done);
            if (n < 0)
                return TError::FromErrno(errno, file_);
            if (n == 0)
                return TError::Message(file_ + ": the file ended before the cached body", EIO);
            done += static_cast<std::uint64_t>(n);
            const std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
            if (checker_)
                checker_->Take(piece);
            last = take(piece);
            if (last != TStep::More)
                return {};
        }
        return {};
    }

    TError ReadFromStore(const std::function<TStep(std::string_view)>& take, TStep& last) {
        last = TStep::More;
        std::uint64_t done = 0;
        bool failed = false;
        TError error = store_->ReadBody(
            storeKey_, length_,
            [&](std::string_view piece) {
                piece = piece.substr(0, static_cast<std::size_t>(
                                            std::min<std::uint64_t>(piece.size(), length_ - done)));
                done += piece.size();
                last = take(piece);
                return last == TStep::More && done < length_;
            },
            failed);
        if (error)
            return error;
        if (last == TStep::More && done < length_)
            return TError::Message(file_ + ": the cached body ends early", EIO);
        // Known only when every stored byte was read.
        if (failed && last == TStep::More)
            checkFailed_ = true;
        return {};
    }

    TFd fd_;
    std::shared_ptr<const TBodyStore> store_;
    std::uint64_t storeKey_ = 0;
    std::string file_;
    std::uint64_t offset_ = 0;
    std::uint64_t length_ = 0;
    std::unique_ptr<TChecker> checker_;
    bool checkFailed_ = false;
};

// Runs the codings over the pieces that read hands out; storedSize sets the
// limit. Decoded is set when the body was decoded whole or the sink stopped
// it; otherwise the caller delivers it as stored.
template <typename TReadStored>
TError Decode(const std::vector<std::string>& codings, std::uint64_t storedSize, TBodySink& sink,
              TBodyRead& read, const TReadStored& readStored, bool& decoded) {
    decoded = false;
    if (codings.empty() || codings.size() > kMaxCodings)
        return {};
    TDecoder decoder(codings, DecodedLimitFor(storedSize), sink);
    if (!decoder.Valid())
        return {};
    TStep step = TStep::More;
    if (TError error =
            readStored([&](std::string_view piece) { return decoder.Push(piece); }, step))
        return error;
    if (step == TStep::More)
        step = decoder.Finish();
    read.Bytes = decoder.Delivered();
    read.OverLimit = decoder.OverLimit();
    if (step == TStep::Failed)
        return {};
    decoded = true;
    read.Complete = step == TStep::More;
    return {};
}

// Delivers the stored bytes themselves, after a failed decoding.
template <typename TReadStored>
TError DeliverStored(TBodySink& sink, TBodyRead& read, const TReadStored& readStored,
                     bool restart) {
    if (restart && read.Bytes > 0 && !sink.Restart())
        return TError::Message("the body could not be read again as stored", EIO);
    read.Bytes = 0;
    TStep step = TStep::More;
    TError error = readStored(
        [&](std::string_view piece) {
            read.Bytes += piece.size();
            return sink.Write(piece) ? TStep::More : TStep::Stop;
        },
        step);
    read.Complete = !error && step == TStep::More;
    return error;
}

class TStringSink : public TBodySink {
public:
    TStringSink(std::string& out, std::uint64_t limit,
                const std::function<bool(std::string_view)>* enough = nullptr)
        : out_(out), limit_(limit), enough_(enough) {}
    bool Write(std::string_view piece) override {
        const std::uint64_t room = limit_ - std::min<std::uint64_t>(limit_, out_.size());
        if (piece.size() >= room) {
            out_.append(piece.substr(0, static_cast<std::size_t>(room)));
            return false;
        }
        out_.append(piece);
        return !(enough_ != nullptr && *enough_ && (*enough_)(out_));
    }
    bool Restart() override {
        out_.clear();
        return true;
    }

private:
    std::string& out_;
    std::uint64_t limit_;
    const std::function<bool(std::string_view)>* enough_;
};

// A body written to a file as it is read.
class TFdSink : public TBodySink {
public:
    explicit TFdSink(int fd) : fd_(fd) {}
    bool Write(std::string_view piece) override {
        while (!piece.empty()) {
            const ssize_t n = ::write(fd_, piece.data(), piece.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                return false;
            }
            piece.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    bool Restart() override {
        if (::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0)
            return true;
        error_ = errno;
        return false;
    }
    int Error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

} // namespace

int WriteCacheBody(const TCachedBody& entry, int fd, TBodyRead* read) {
    TBodyRead own;
    TBodyRead& r = read != nullptr ? *read : own;
    TFdSink sink(fd);
    TError error = StreamCacheBody(entry, sink, &r);
    if (sink.Error() != 0)
        return sink.Error();
    if (error)
        return error.Code() != 0 ? error.Code() : EIO;
    return r.Complete ? 0 : EIO;
}

TError WriteCacheBodyFile(const TCachedBody& entry, const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return TError::FromErrno(errno, file.string());
    int code = WriteCacheBody(entry, fd);
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0)
        return {};
    ::unlink(file.c_str());
    return TError::FromErrno(code, entry.LocalFileName);
}

std::uint64_t DecodedLimitFor(std::uint64_t storedSize) {
    std::uint64_t limit = kMaxDecodedBody;
    if (storedSize < kMaxDecodedBody / kDecodedRatioLimit)
        limit = storedSize * kDecodedRatioLimit;
    return std::max(limit, kMinDecodedLimit);
}

bool IsPlainCacheBody(const TCachedBody& entry) {
    return entry.BodyLength < 0 && !entry.Store && Codings(entry.ContentEncoding).empty();
}

TError StreamCacheBody(const TCachedBody& entry, TBodySink& sink, TBodyRead* read) {
    TBodyRead own;
    TBodyRead& r = read != nullptr ? *read : own;
    r = TBodyRead{};
    if (entry.LocalFileName.empty())
        return TError::FromErrno(ENOENT, "no cached copy");
    TStoredBody stored;
    if (TError error = stored.Open(entry))
        return error;
    auto readStored = [&stored](const std::function<TStep(std::string_view)>& take, TStep& last) {
        return stored.Read(take, last);
    };
    const std::vector<std::string> codings = Codings(entry.ContentEncoding);
    TError error;
    bool decoded = false;
    if (codings.empty()) {
        error = DeliverStored(sink, r, readStored, false);
    } else {
        error = Decode(codings, stored.Length(), sink, r, readStored, decoded);
        if (!error && !decoded) {
            r.StoredAsIs = true;
            error = DeliverStored(sink, r, readStored, true);
        }
    }
    r.ChecksumFailed = stored.ChecksumFailed();
    return error;
}

TError ReadCacheBody(const TCachedBody& entry, std::string& out, std::uint64_t limit,
                     TBodyRead* read, const std::function<bool(std::string_view)>& enough) {
    out.clear();
    TStringSink sink(out, limit, &enough);
    TError error = StreamCacheBody(entry, sink, read);
    if (error)
        out.clear();
    return error;
}

bool DecodeContent(std::string_view encoding, std::string_view data, std::string& out,
                   std::uint64_t limit, std::size_t piece) {
    piece = std::max<std::size_t>(piece, 1);
    out.clear();
    TStringSink sink(out, limit);
    const std::vector<std::string> codings = Codings(encoding);
    if (codings.empty()) {
        out.assign(
            data.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size()))));
        return true;
    }
    auto readStored = [data, piece](const std::function<TStep(std::string_view)>& take,
                                    TStep& last) {
        last = TStep::More;
        for (std::size_t pos = 0; pos < data.size() && last == TStep::More; pos += piece)
            last = take(data.substr(pos, piece));
        return TError{};
    };
    TBodyRead read;
    bool decoded = false;
    (void)Decode(codings, data.size(), sink, read, readStored, decoded);
    if (!decoded)
        out.clear();
    return decoded;
}

} // namespace tarnhold
