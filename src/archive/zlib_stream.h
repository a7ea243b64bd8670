#pragma once
// zlib streams with the archive's parameters (deflate, window bits 15, memory level 8, default
// strategy). Errors from zlib raise nimbrel::Error("error").

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "archive/archive_format.h"

namespace nimbrel::archive {

// Compresses what is written into one zlib stream. Output leaves through `sink` in pieces of
// the 65,536-byte output buffer; each time that buffer has filled and gone out, `progress` is
// called, so a stream reports once per 65,536 bytes of compressed output.
class CompressionStream {
public:
    static constexpr std::size_t kBufferSize = 65536;
    using Sink = std::function<void(const unsigned char* data, std::size_t size)>;
    using Progress = std::function<void(const CompressionStream& sender)>;

    CompressionStream(TFileCompressionLevel level, Sink sink, Progress progress = {});
    ~CompressionStream();
    CompressionStream(const CompressionStream&) = delete;
    CompressionStream& operator=(const CompressionStream&) = delete;

    void Write(const void* data, std::size_t size);
    // Ends the stream and hands out the rest; nothing may be written afterwards.
    void Finish();

    std::uint64_t TotalIn() const;   // bytes taken in so far
    std::uint64_t TotalOut() const;  // bytes handed to the sink so far

private:
    void Drain(int flush);
    struct State;
    std::unique_ptr<State> state_;
    Sink sink_;
    Progress progress_;
};

// The zlib stream of `bytes` in one piece.
std::string CompressBytes(std::string_view bytes, TFileCompressionLevel level);

// Inflates one zlib stream whose compressed bytes come from `source` (which fills a buffer and
// returns how many bytes it gave, 0 at the end of the input).
class DecompressionStream {
public:
    using Source = std::function<std::size_t(unsigned char* buffer, std::size_t capacity)>;

    explicit DecompressionStream(Source source);
    ~DecompressionStream();
    DecompressionStream(const DecompressionStream&) = delete;
    DecompressionStream& operator=(const DecompressionStream&) = delete;

    // Up to `size` inflated bytes; fewer only when the stream has ended. Raises Error("error")
    // for damaged data and for input that stops before the stream's end.
    std::size_t Read(void* buffer, std::size_t size);
    bool AtEnd() const { return ended_; }
    std::uint64_t TotalIn() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    Source source_;
    bool ended_ = false;
    bool inputDone_ = false;
};

}  // namespace nimbrel::archive
