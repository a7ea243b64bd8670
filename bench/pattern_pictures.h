#pragma once
// Two pictures with detail everywhere, made in memory: a show benchmark's figures are then the
// drawing's, not a decoder's.
#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "imaging/picture_decoder.h"
#include "show/picture_sources.h"
#include "show/show.h"

namespace nimbrel::bench {

// The show's two entries, "a.bmp" and "b.bmp"; their bytes tell PatternDecoder which is which.
class TwoPictures : public show::PictureList {
public:
    std::size_t Count() const override { return 2; }
    std::string Name(std::size_t i) const override { return i ? "b.bmp" : "a.bmp"; }
    std::string Bytes(std::size_t i) const override { return std::to_string(i); }
};

// Each picture of TwoPictures as a pattern of the given size, different for the two.
class PatternDecoder : public imaging::PictureDecoder {
public:
    explicit PatternDecoder(int width = 1920, int height = 1080) : width_(width), height_(height) {}
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        const bool second = !bytes.empty() && bytes[0] == '1';
        imaging::Image image(width_, height_);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                image.Set(x, y,
                          second ? imaging::MakePixel(200, (x + y) & 255, y & 255)
                                 : imaging::MakePixel(x & 255, y & 255, 40));
        return std::make_unique<show::ImageSource>(std::move(image), "pattern");
    }

private:
    int width_, height_;
};

// Wall-clock time in milliseconds.
inline double WallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace nimbrel::bench
