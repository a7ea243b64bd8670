// Captions: what each source says of a picture, the masks the text is drawn into, and where the
// show engine puts them on the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "captions/caption_text.h"
#include "captions/text_mask.h"
#include "imaging/picture_metadata.h"
#include "platform/error.h"
#include "show/picture_sources.h"
#include "show/show.h"
#include "show/show_order.h"

namespace nimbrel::captions {
namespace {

using imaging::Pixel;

// --- Photos with what they say of themselves, as a camera or an editor writes them. ---

void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 255);
    s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, unsigned v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
std::string Segment(unsigned char marker, const std::string& body) {
    const std::size_t length = body.size() + 2;
    return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                       static_cast<char>(length & 255)} + body;
}
// An EXIF block (little-endian TIFF) with ImageDescription in IFD0 and DateTimeOriginal in the
// EXIF IFD; an empty text leaves its tag out.
std::string ExifSegment(const std::string& description, const std::string& date) {
    std::string t = "II";
    Put16(t, 42);
    Put32(t, 8);
    const unsigned entries = (description.empty() ? 0 : 1) + 1;
    const unsigned ifd0End = 8 + 2 + 12 * entries + 4;
    const unsigned exifIfd = ifd0End + static_cast<unsigned>(description.size() + 1);
    Put16(t, entries);
    if (!description.empty()) {
        Put16(t, 0x010E), Put16(t, 2), Put32(t, static_cast<unsigned>(description.size() + 1)), Put32(t, ifd0End);
    }
    Put16(t, 0x8769), Put16(t, 4), Put32(t, 1), Put32(t, exifIfd);
    Put32(t, 0);
    if (!description.empty()) t += description + '\0';
    Put16(t, date.empty() ? 0 : 1);
    if (!date.empty()) {
        Put16(t, 0x9003), Put16(t, 2), Put32(t, static_cast<unsigned>(date.size() + 1)), Put32(t, exifIfd + 18);
    }
    Put32(t, 0);
    if (!date.empty()) t += date + '\0';
    return Segment(0xE1, std::string("Exif\0\0", 6) + t);
}
std::string XmpSegment(const std::string& description) {
    return Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                             "<x:xmpmeta><rdf:RDF><rdf:Description><dc:description><rdf:Alt>"
                             "<rdf:li xml:lang=\"x-default\">" +
                             description + "</rdf:li></rdf:Alt></dc:description></rdf:Description></rdf:RDF></x:xmpmeta>");
}
std::string IptcSegment(const std::string& caption) {
    std::string iptc = std::string("\x1C\x02\x78", 3);
    iptc += static_cast<char>(caption.size() >> 8);
    iptc += static_cast<char>(caption.size() & 255);
    iptc += caption;
    std::string resource = std::string("8BIM\x04\x04\0\0", 8);
    for (int shift : {24, 16, 8, 0}) resource += static_cast<char>((iptc.size() >> shift) & 255);
    resource += iptc;
    if (iptc.size() % 2) resource += '\0';
    return Segment(0xED, std::string("Photoshop 3.0\0", 14) + resource);
}
std::string Jpeg(const std::string& segments) {
    return std::string("\xFF\xD8", 2) + segments + std::string("\xFF\xD9", 2);
}
imaging::PictureMetadata Meta(const std::string& bytes) {
    return imaging::ReadPictureMetadata(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(PictureMetadata, DescriptionComesFromExifThenXmpThenIptcAndDamageGivesNothing) {
    const std::string all = Jpeg(ExifSegment("Quay", "2024:06:01 07:30:00") + XmpSegment("Harbour") +
                                 IptcSegment("Boats"));
    EXPECT_EQ(Meta(all).description, "Quay");
    EXPECT_EQ(Meta(all).dateTaken, "2024:06:01 07:30:00");
    // A blank ImageDescription (cameras pad it) does not hide the XMP one.
    EXPECT_EQ(Meta(Jpeg(ExifSegment("        ", "") + XmpSegment("Fish &amp; chips &#x2014; &#1488;") +
                        IptcSegment("Boats")))
                  .description,
              "Fish & chips \xE2\x80\x94 \xD7\x90");
    // IPTC text that is not UTF-8 is read as Latin-1.
    EXPECT_EQ(Meta(Jpeg(IptcSegment("Caf\xE9"))).description, "Caf\xC3\xA9");
    EXPECT_EQ(Meta(Jpeg(IptcSegment("Boats"))).dateTaken, "");

    // Lengths and offsets that point outside the block.
    std::string cut = Jpeg(ExifSegment("Quay", "2024:06:01 07:30:00"));
    cut[2 + 2 + 2 + 6 + 4 + 4 + 2 + 4] = '\x7F';  // the description's count
    EXPECT_EQ(Meta(cut).description, "");
    std::string iptc = Jpeg(IptcSegment("Boats"));
    iptc[iptc.size() - 2 - 5 - 1] = '\x7F';  // the dataset's length
    EXPECT_EQ(Meta(iptc).description, "");
    EXPECT_EQ(Meta(Jpeg(ExifSegment("Quay", "")).substr(0, 20)).description, "");
    EXPECT_EQ(Meta("not a picture").description, "");
}

// --- The show's frames with captions. ---

class AnyDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t>,
                                                 imaging::DecodeHint) override {
        // A mid-grey picture with a little pattern, so that the band's darkening shows.
        imaging::Image image(64, 48);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                image.Set(x, y, imaging::MakePixel(static_cast<std::uint8_t>(90 + x), 110, static_cast<std::uint8_t>(100 + y)));
        return std::make_unique<show::ImageSource>(std::move(image), "grey");
    }
};

class CaptionFrames : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("nimbrel-captions-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The frame at time 0 of a show of `path` on a width x height screen, with the captions or none.
    show::Frame Frame(const std::string& path, const std::map<std::size_t, show::CaptionMask>* masks,
                      int width = 640, int height = 360) {
        project::SlideShowValues values;
        values.center = true;
        values.stretch = true;
        values.keepAspect = true;
        auto s = show::MakeProjectShow(values, {path}, show::Screen{width, height, {}}, decoder_, 1);
        if (masks != nullptr)
            s->SetCaptions(std::make_shared<show::CaptionLayer>(*masks, show::CaptionPlace::BottomCenter));
        show::Frame frame;
        s->Render(0, frame);
        return frame;
    }

    std::filesystem::path dir_;
    AnyDecoder decoder_;
};

// Where the captioned frame differs from the plain one: only inside the band, the band inside
// the safe margin, and bright text inside the band.
void ExpectTextOnlyInItsBand(const show::Frame& plain, const show::Frame& captioned, const show::CaptionMask& mask,
                             const std::string& what) {
    const imaging::Rect screen{0, 0, plain.Width(), plain.Height()};
    const show::CaptionLayout layout = show::LayOutCaption(mask, screen, show::CaptionPlace::BottomCenter);
    const int margin = static_cast<int>(std::lround(plain.Height() * show::kCaptionMarginShare));
    EXPECT_GE(layout.band.x, margin) << what;
    EXPECT_GE(layout.band.y, margin) << what;
    EXPECT_LE(layout.band.x + layout.band.width, plain.Width() - margin) << what;
    EXPECT_LE(layout.band.y + layout.band.height, plain.Height() - margin) << what;
    int outside = 0, bright = 0;
    for (int y = 0; y < plain.Height(); ++y)
        for (int x = 0; x < plain.Width(); ++x) {
            const bool in = x >= layout.band.x && x < layout.band.x + layout.band.width && y >= layout.band.y &&
                            y < layout.band.y + layout.band.height;
            const Pixel p = captioned.At(x, y);
            if (!in && p != plain.At(x, y)) ++outside;
            if (in && imaging::RedOf(p) > 230 && imaging::GreenOf(p) > 230 && imaging::BlueOf(p) > 230) ++bright;
        }
    EXPECT_EQ(outside, 0) << what;
    EXPECT_GT(bright, 20) << what;
}

TEST_F(CaptionFrames, EachSourceShowsItsTextInItsBandInsideTheMargin) {
    const std::string photo = Write("Harbour at dawn.jpg", Jpeg(ExifSegment("Boats in the harbour", "2024:06:01 07:30:00")));
    const std::locale classic = std::locale::classic();
    const std::string longText(300, 'W');
    const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D";  // "shalom olam"
    struct Case {
        CaptionSource source;
        std::string own;
        std::string text;
    } cases[] = {
        {CaptionSource::FileName, "", "Harbour at dawn"},
        {CaptionSource::DateTaken, "", FormatExifDate("2024:06:01", classic)},
        {CaptionSource::Description, "", "Boats in the harbour"},
        {CaptionSource::OwnText, " Our boat \r\n", "Our boat"},
        {CaptionSource::OwnText, hebrew, hebrew},
        {CaptionSource::OwnText, longText, longText},
    };
    EXPECT_EQ(FormatExifDate("2024:06:01 07:30:00", classic), "06/01/24");
    const show::Frame plain = Frame(photo, nullptr);
    for (const Case& c : cases) {
        const std::string what = "source " + std::to_string(static_cast<int>(c.source)) + " " + c.text.substr(0, 20);
        EXPECT_EQ(CaptionText(c.source, photo, c.own, classic), c.text) << what;
        const auto masks = CaptionMasks(c.source, {photo}, {{0, c.own}}, classic);
        ASSERT_EQ(masks.count(0), 1u) << what;
        ExpectTextOnlyInItsBand(plain, Frame(photo, &masks), masks.at(0), what);
    }
    // The long text is cut to the widest caption and ends in an ellipsis; a short one is not.
    const TextRenderer renderer(CaptionFontPath());
    const show::CaptionMask cut = renderer.Render(longText, MaxCaptionWidth());
    EXPECT_LE(cut.width, MaxCaptionWidth());
    EXPECT_GT(cut.width, MaxCaptionWidth() * 9 / 10);
    EXPECT_GT(renderer.Width(longText), MaxCaptionWidth());
    EXPECT_LT(renderer.Render("W", MaxCaptionWidth()).width, 2 * kReferenceFontPixels);
}

TEST_F(CaptionFrames, APictureWithoutDescriptionShowsNoBandAndTheDateFallsBackToTheFiles) {
    const std::string bare = Write("bare.jpg", Jpeg(""));
    const std::locale classic = std::locale::classic();
    for (CaptionSource source : {CaptionSource::Description, CaptionSource::OwnText, CaptionSource::None}) {
        const auto masks = CaptionMasks(source, {bare}, {{0, "  "}}, classic);
        EXPECT_TRUE(masks.empty()) << static_cast<int>(source);
        EXPECT_EQ(Frame(bare, &masks), Frame(bare, nullptr)) << "no blank band";
    }
    // Without an EXIF date, the file's own date.
    std::tm tm{};
    tm.tm_year = 2019 - 1900, tm.tm_mon = 2, tm.tm_mday = 14, tm.tm_hour = 12, tm.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    std::filesystem::last_write_time(bare, std::chrono::file_clock::from_sys(when));
    EXPECT_EQ(CaptionText(CaptionSource::DateTaken, bare, "", classic), "03/14/19");
    EXPECT_EQ(FormatExifDate("0000:00:00 00:00:00", classic), "");
    // An entry without a file has no caption; the others keep their entry's index.
    const auto masks = CaptionMasks(CaptionSource::FileName, {"", bare}, {}, classic);
    EXPECT_EQ(masks.count(0), 0u);
    EXPECT_EQ(masks.count(1), 1u);
}

// Hebrew runs right to left: its first letter is drawn at the right end of the line.
TEST(TextRenderer, RightToLeftTextStartsAtTheRight) {
    const TextRenderer renderer(CaptionFontPath());
    const std::string alef = "\xD7\x90", bet = "\xD7\x91";
    const show::CaptionMask a = renderer.Render(alef, 4000), b = renderer.Render(bet, 4000),
                            ab = renderer.Render(alef + bet, 4000);
    ASSERT_FALSE(ab.Empty());
    // The pair compared with each letter placed at either end: the right-to-left order fits best.
    auto difference = [&](const show::CaptionMask& letter, int offset) {
        long sum = 0;
        for (int y = 0; y < ab.height; ++y)
            for (int x = 0; x < letter.width; ++x) {
                const int px = x + offset;
                if (px < 0 || px >= ab.width) continue;
                sum += std::abs(ab.alpha[static_cast<std::size_t>(y) * ab.width + px] -
                                letter.alpha[static_cast<std::size_t>(y) * letter.width + x]);
            }
        return sum;
    };
    const long rightToLeft = difference(a, ab.width - a.width) + difference(b, 0);
    const long leftToRight = difference(a, 0) + difference(b, ab.width - b.width);
    EXPECT_LT(rightToLeft * 3, leftToRight);
}

TEST(CaptionLayer, PlacesShrinkingAndTheStoredMasks) {
    show::CaptionMask mask;
    mask.width = 2000, mask.height = 94, mask.fontPixels = 80;
    mask.alpha.assign(static_cast<std::size_t>(mask.width) * mask.height, 255);
    const imaging::Rect wide{100, 0, 1920, 1080};
    const show::CaptionLayout bottomLeft = show::LayOutCaption(mask, wide, show::CaptionPlace::BottomLeft);
    const show::CaptionLayout topRight = show::LayOutCaption(mask, wide, show::CaptionPlace::TopRight);
    EXPECT_EQ(bottomLeft.band.x, 100 + 54);
    EXPECT_EQ(bottomLeft.band.y + bottomLeft.band.height, 1080 - 54);
    EXPECT_EQ(topRight.band.x + topRight.band.width, 100 + 1920 - 54);
    EXPECT_EQ(topRight.band.y, 54);
    EXPECT_EQ(bottomLeft.text.height, std::lround(94 * 1080 * show::kCaptionEmShare / 80));
    // A portrait monitor has less room than the caption: it shrinks to fit inside the margin.
    const imaging::Rect tall{0, 0, 600, 1080};
    const show::CaptionLayout shrunk = show::LayOutCaption(mask, tall, show::CaptionPlace::BottomCenter);
    EXPECT_GE(shrunk.band.x, 54);
    EXPECT_LE(shrunk.band.x + shrunk.band.width, 600 - 54);
    EXPECT_LT(shrunk.text.height, bottomLeft.text.height);

    const show::CaptionMask scaled = show::ScaleMask(mask, 500, 20);
    EXPECT_EQ(scaled.alpha, std::vector<std::uint8_t>(500 * 20, 255)) << "full coverage stays full";

    std::map<std::size_t, show::CaptionMask> masks{{3, show::ScaleMask(mask, 7, 5)}, {9, {}}};
    masks[3].alpha[4] = 17;
    const std::string stored = show::WriteCaptionMasks(masks);
    const auto back = show::ReadCaptionMasks(stored);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.at(3).alpha, masks[3].alpha);
    EXPECT_EQ(back.at(3).fontPixels, 80);
    EXPECT_TRUE(back.at(9).Empty());
    EXPECT_THROW(show::ReadCaptionMasks(stored.substr(0, stored.size() - 1)), Error);
    EXPECT_THROW(show::ReadCaptionMasks(std::string("NBCAPT1\n\xFF\xFF\xFF\xFF", 12)), Error);
}

TEST(CaptionMember, IsNoPictureOfTheShowAndEntriesReachTheirMembers) {
    const std::vector<std::string> members{"Options.ini", "About.cfg", "b.jpg", "a.jpg", "Captions.dat", "a.jpg"};
    const std::vector<std::string> files{"C:\\p\\a.jpg", "", "/q/b.jpg", "/r/A.JPG"};
    EXPECT_EQ(show::ShowOrder(files, members), (std::vector<std::size_t>{3, 2, 5}));
    EXPECT_EQ(show::MemberEntries(files, members), (std::vector<long>{-1, -1, 2, 0, -1, 3}));
}

}  // namespace
}  // namespace nimbrel::captions
