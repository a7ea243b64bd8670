// JPEGs through libjpeg's encoder: grey or colour, 4:2:0 or 4:4:4, sequential or progressive.
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include <utility>
#include <vector>

#include "test_pictures.h"

namespace nimbrel::codecs::testing {

Bytes MakeJpeg(const imaging::Image& image, const JpegMaking& making) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);  // a test's own pictures: libjpeg's exit is acceptable
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, making.quality, TRUE);
    if (making.gray)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    else
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = making.chromaStep;
    std::vector<jpeg_scan_info> scans;
    if (making.manyScans) {
        scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
        for (int c = 0; c < 3; ++c)
            for (int k = 1; k < 64; ++k)
                for (auto [ah, al] : {std::pair{0, 2}, std::pair{2, 1}, std::pair{1, 0}})
                    scans.push_back({1, {c, 0, 0, 0}, k, k, ah, al});
        cinfo.scan_info = scans.data();
        cinfo.num_scans = static_cast<int>(scans.size());
    } else if (making.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const JSAMPLE*>(image.Row(static_cast<int>(cinfo.next_scanline))));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

}  // namespace nimbrel::codecs::testing
