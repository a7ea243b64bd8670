#pragma once
// Makes small Flash movies for the tests: a background colour, one solid rectangle, and a
// PlaceObject2 per frame that moves it. Plain (FWS) or zlib-compressed (CWS).

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nimbrel::flash::testing {

class BitWriter {
public:
    void Bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bit_ == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<std::uint8_t>(0x80 >> bit_);
            bit_ = (bit_ + 1) % 8;
        }
    }
    void Signed(std::int32_t value, int count) {
        Bits(static_cast<std::uint32_t>(value) & ((1u << count) - 1), count);
    }
    void Align() { bit_ = 0; }
    std::vector<std::uint8_t> bytes;

private:
    int bit_ = 0;
};

// Bits a signed value needs.
inline int SignedBits(std::int32_t value) {
    int n = 1;
    while (value >= (1 << (n - 1)) || value < -(1 << (n - 1))) ++n;
    return n;
}

inline void Rect(BitWriter& w, std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1) {
    int n = std::max({SignedBits(x0), SignedBits(x1), SignedBits(y0), SignedBits(y1)});
    w.Bits(static_cast<std::uint32_t>(n), 5);
    w.Signed(x0, n), w.Signed(x1, n), w.Signed(y0, n), w.Signed(y1, n);
    w.Align();
}

struct MoviePlan {
    int width = 200, height = 100;  // stage in pixels
    double frameRate = 10;
    std::uint32_t background = 0x0000FF;  // 0xRRGGBB
    std::uint32_t shapeColor = 0xFF0000;
    int shapeSize = 20;  // pixels, a square
    // The square's left edge in each frame; its top stays at shapeTop.
    std::vector<int> shapeX{0, 10, 20, 30};
    int shapeTop = 40;
    bool compressed = false;
    bool drawsNothing = false;            // frames without the square
    std::vector<std::uint8_t> extraTags;  // raw tags put before the first frame
};

inline void Tag(std::vector<std::uint8_t>& out, unsigned code, const std::vector<std::uint8_t>& body) {
    if (body.size() < 63) {
        unsigned head = (code << 6) | static_cast<unsigned>(body.size());
        out.push_back(static_cast<std::uint8_t>(head)), out.push_back(static_cast<std::uint8_t>(head >> 8));
    } else {
        unsigned head = (code << 6) | 0x3F;
        out.push_back(static_cast<std::uint8_t>(head)), out.push_back(static_cast<std::uint8_t>(head >> 8));
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(body.size() >> (8 * i)));
    }
    out.insert(out.end(), body.begin(), body.end());
}

inline std::vector<std::uint8_t> MakeMovie(const MoviePlan& plan) {
    std::vector<std::uint8_t> body;
    {
        BitWriter w;
        Rect(w, 0, plan.width * 20, 0, plan.height * 20);
        body = w.bytes;
    }
    const unsigned rate = static_cast<unsigned>(plan.frameRate * 256 + 0.5);
    body.push_back(static_cast<std::uint8_t>(rate)), body.push_back(static_cast<std::uint8_t>(rate >> 8));
    const std::size_t frames = plan.shapeX.size();
    body.push_back(static_cast<std::uint8_t>(frames)), body.push_back(static_cast<std::uint8_t>(frames >> 8));
    Tag(body, 69, {0, 0, 0, 0});  // FileAttributes: no ActionScript 3, no network
    Tag(body, 9,
        {static_cast<std::uint8_t>(plan.background >> 16), static_cast<std::uint8_t>(plan.background >> 8),
         static_cast<std::uint8_t>(plan.background)});
    body.insert(body.end(), plan.extraTags.begin(), plan.extraTags.end());
    {  // DefineShape 1: a solid square from (0,0)
        const std::int32_t side = plan.shapeSize * 20;
        std::vector<std::uint8_t> shape{1, 0};
        BitWriter w;
        Rect(w, 0, side, 0, side);
        shape.insert(shape.end(), w.bytes.begin(), w.bytes.end());
        shape.insert(shape.end(), {1, 0x00, static_cast<std::uint8_t>(plan.shapeColor >> 16),
                                   static_cast<std::uint8_t>(plan.shapeColor >> 8),
                                   static_cast<std::uint8_t>(plan.shapeColor), 0, 0x10});
        BitWriter r;
        const int n = SignedBits(side) + 1;
        // Style change: move to (0,0), fill style 1.
        r.Bits(0, 1), r.Bits(0b00101, 5), r.Bits(static_cast<std::uint32_t>(n), 5), r.Signed(0, n),
            r.Signed(0, n);
        r.Bits(1, 1);
        auto edge = [&](bool vertical, std::int32_t delta) {
            r.Bits(1, 1), r.Bits(1, 1), r.Bits(static_cast<std::uint32_t>(n - 2), 4), r.Bits(0, 1);
            r.Bits(vertical ? 1 : 0, 1), r.Signed(delta, n);
        };
        edge(false, side), edge(true, side), edge(false, -side), edge(true, -side);
        r.Bits(0, 6);  // end of shape
        shape.insert(shape.end(), r.bytes.begin(), r.bytes.end());
        Tag(body, 2, shape);
    }
    for (std::size_t f = 0; f < frames; ++f) {
        if (!plan.drawsNothing) {
            BitWriter m;
            const std::int32_t x = plan.shapeX[f] * 20, y = plan.shapeTop * 20;
            const int n = std::max(SignedBits(x), SignedBits(y));
            m.Bits(0, 1), m.Bits(0, 1), m.Bits(static_cast<std::uint32_t>(n), 5), m.Signed(x, n),
                m.Signed(y, n);
            std::vector<std::uint8_t> place;
            if (f == 0)
                place = {0x06, 1, 0, 1, 0};  // HasMatrix | HasCharacter, depth 1, character 1
            else
                place = {0x05, 1, 0};  // HasMatrix | Move, depth 1
            place.insert(place.end(), m.bytes.begin(), m.bytes.end());
            Tag(body, 26, place);
        }
        Tag(body, 1, {});
    }
    Tag(body, 0, {});

    std::vector<std::uint8_t> movie{static_cast<std::uint8_t>(plan.compressed ? 'C' : 'F'), 'W', 'S', 8};
    const std::uint32_t length = static_cast<std::uint32_t>(body.size() + 8);
    for (int i = 0; i < 4; ++i) movie.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    if (!plan.compressed) {
        movie.insert(movie.end(), body.begin(), body.end());
    } else {
        uLongf packed = compressBound(static_cast<uLong>(body.size()));
        std::vector<std::uint8_t> out(packed);
        compress(out.data(), &packed, body.data(), static_cast<uLong>(body.size()));
        movie.insert(movie.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(packed));
    }
    return movie;
}

// A DoAction tag whose code jumps back to itself forever.
inline std::vector<std::uint8_t> EndlessScriptTag() {
    std::vector<std::uint8_t> tag;
    // ActionJump (0x99) with offset -5: back to its own start; then the end of the actions.
    Tag(tag, 12, {0x99, 0x02, 0x00, 0xFB, 0xFF, 0x00});
    return tag;
}

// A DoAction tag that asks for each URL with the given target: "_level1" loads a movie from
// there, "_blank" opens it in a browser window.
inline std::vector<std::uint8_t> GetUrlTag(
    const std::vector<std::pair<std::string, std::string> >& requests) {
    std::vector<std::uint8_t> actions;
    for (const auto& [url, target] : requests) {
        const std::size_t length = url.size() + target.size() + 2;
        actions.insert(actions.end(),
                       {0x83, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)});
        actions.insert(actions.end(), url.begin(), url.end());
        actions.push_back(0);
        actions.insert(actions.end(), target.begin(), target.end());
        actions.push_back(0);
    }
    actions.push_back(0);
    std::vector<std::uint8_t> tag;
    Tag(tag, 12, actions);
    return tag;
}

// A square a sixth of the stage's height crossing the stage once, left to right, over `seconds`:
// the benchmarks' movie of ordinary vector motion.
inline MoviePlan CrossingPlan(int width, int height, double frameRate, int seconds) {
    MoviePlan plan;
    plan.width = width, plan.height = height, plan.frameRate = frameRate;
    plan.shapeSize = height / 6;
    plan.shapeTop = height / 2 - plan.shapeSize / 2;
    plan.shapeX.clear();
    const int frames = static_cast<int>(seconds * frameRate);
    for (int k = 0; k < frames; ++k)
        plan.shapeX.push_back((width - plan.shapeSize) * k / std::max(1, frames - 1));
    return plan;
}

}  // namespace nimbrel::flash::testing
