// Colour conversion to sRGB through LittleCMS.
#include <lcms2.h>

#include "codecs/codecs.h"

namespace nimbrel::codecs {

namespace {

// Two profiles describe sRGB when they map a few test colours the same way.
bool IsSrgb(cmsHPROFILE profile) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(profile, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE);
    cmsCloseProfile(srgb);
    if (t == nullptr) return false;
    static const std::uint8_t in[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128, 200, 100, 50};
    std::uint8_t out[sizeof in];
    cmsDoTransform(t, in, out, sizeof in / 3);
    cmsDeleteTransform(t);
    for (std::size_t i = 0; i < sizeof in; ++i)
        if (out[i] + 1 < in[i] || out[i] > in[i] + 1) return false;
    return true;
}

}  // namespace

SrgbConverter::SrgbConverter(std::span<const std::uint8_t> iccProfile) {
    if (iccProfile.empty()) return;
    cmsHPROFILE in =
        cmsOpenProfileFromMem(iccProfile.data(), static_cast<cmsUInt32Number>(iccProfile.size()));
    if (in == nullptr) return;
    if (cmsGetColorSpace(in) == cmsSigRgbData && !IsSrgb(in)) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        transform_ =
            cmsCreateTransform(in, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(in);
}

SrgbConverter::~SrgbConverter() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void SrgbConverter::Apply(imaging::Pixel* pixels, std::size_t count) const {
    if (transform_ && count > 0)
        cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), pixels, pixels,
                       static_cast<cmsUInt32Number>(count));
}

std::vector<std::uint8_t> MakeRgbProfile(const double primaries[6]) {
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE triple{{primaries[0], primaries[1], 1.0},
                           {primaries[2], primaries[3], 1.0},
                           {primaries[4], primaries[5], 1.0}};
    // The sRGB tone curve: a power of 2.4 with a linear toe.
    const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &triple, curves);
    cmsFreeToneCurve(curve);
    std::vector<std::uint8_t> bytes;
    if (profile == nullptr) return bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes;
}

}  // namespace nimbrel::codecs
