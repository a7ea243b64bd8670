#include "archive/zlib_stream.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/error.h"

namespace nimbrel::archive {

namespace {
[[noreturn]] void StreamError() {
    throw Error("error");
}
}  // namespace

struct CompressionStream::State {
    z_stream z{};
    unsigned char buffer[kBufferSize];
    bool finished = false;
    std::uint64_t totalOut = 0;
};

CompressionStream::CompressionStream(TFileCompressionLevel level, Sink sink, Progress progress)
    : state_(std::make_unique<State>()), sink_(std::move(sink)), progress_(std::move(progress)) {
    if (deflateInit2(&state_->z, ZlibLevel(level), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        StreamError();
    state_->z.next_out = state_->buffer;
    state_->z.avail_out = kBufferSize;
}

CompressionStream::~CompressionStream() {
    deflateEnd(&state_->z);
}

void CompressionStream::Drain(int flush) {
    z_stream& z = state_->z;
    for (;;) {
        int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) StreamError();
        if (z.avail_out == 0) {
            state_->totalOut += kBufferSize;
            sink_(state_->buffer, kBufferSize);
            z.next_out = state_->buffer;
            z.avail_out = kBufferSize;
            if (progress_) progress_(*this);
            continue;
        }
        if (flush == Z_FINISH) {
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) StreamError();
        } else if (z.avail_in == 0) {
            break;
        }
    }
}

void CompressionStream::Write(const void* data, std::size_t size) {
    if (state_->finished) StreamError();
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        auto piece = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX / 2));
        state_->z.next_in = const_cast<Bytef*>(bytes);
        state_->z.avail_in = piece;
        Drain(Z_NO_FLUSH);
        bytes += piece;
        size -= piece;
    }
}

void CompressionStream::Finish() {
    if (state_->finished) return;
    state_->z.next_in = nullptr;
    state_->z.avail_in = 0;
    Drain(Z_FINISH);
    state_->finished = true;
    std::size_t rest = kBufferSize - state_->z.avail_out;
    if (rest > 0) {
        state_->totalOut += rest;
        sink_(state_->buffer, rest);
    }
}

// A member stays below 2 GiB, so zlib's own counter (32 bits on Windows) is wide enough.
std::uint64_t CompressionStream::TotalIn() const {
    return state_->z.total_in;
}

std::uint64_t CompressionStream::TotalOut() const {
    return state_->totalOut;
}

std::string CompressBytes(std::string_view bytes, TFileCompressionLevel level) {
    std::string out;
    CompressionStream stream(level, [&out](const unsigned char* data, std::size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
    });
    stream.Write(bytes.data(), bytes.size());
    stream.Finish();
    return out;
}

struct DecompressionStream::State {
    z_stream z{};
    std::vector<unsigned char> input = std::vector<unsigned char>(65536);
    std::uint64_t totalIn = 0;
};

DecompressionStream::DecompressionStream(Source source)
    : state_(std::make_unique<State>()), source_(std::move(source)) {
    if (inflateInit2(&state_->z, 15) != Z_OK) StreamError();
}

DecompressionStream::~DecompressionStream() {
    inflateEnd(&state_->z);
}

std::size_t DecompressionStream::Read(void* buffer, std::size_t size) {
    z_stream& z = state_->z;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t produced = 0;
    while (produced < size && !ended_) {
        if (z.avail_in == 0 && !inputDone_) {
            std::size_t got = source_(state_->input.data(), state_->input.size());
            if (got == 0) inputDone_ = true;
            z.next_in = state_->input.data();
            z.avail_in = static_cast<uInt>(got);
        }
        auto room = static_cast<uInt>(std::min<std::size_t>(size - produced, UINT_MAX / 2));
        z.next_out = out + produced;
        z.avail_out = room;
        uInt inBefore = z.avail_in;
        int rc = inflate(&z, Z_NO_FLUSH);
        std::size_t made = room - z.avail_out;
        produced += made;
        state_->totalIn += inBefore - z.avail_in;
        if (rc == Z_STREAM_END) {
            ended_ = true;
        } else if (rc == Z_BUF_ERROR) {
            // No progress was possible: either the input is used up for good, or it needs more.
            if (inputDone_ && z.avail_in == 0) StreamError();
        } else if (rc != Z_OK) {
            StreamError();
        }
        if (made == 0 && inBefore == z.avail_in && inputDone_ && !ended_) StreamError();
    }
    return produced;
}

std::uint64_t DecompressionStream::TotalIn() const {
    return state_->totalIn;
}

}  // namespace nimbrel::archive
