#pragma once
// Faster reduced-size inverse DCTs for libjpeg-turbo's decoder.
//
// Decoding a JPEG at 5/8, 6/8 or 7/8 of its size (as a photo fitted to a screen a little more
// than half its size is), libjpeg-turbo turns each 8x8 block of coefficients into 5x5, 6x6 or
// 7x7 pixels, and the chroma of a 4:2:0 picture into 10x10, 12x12 or 14x14, with transforms
// written in plain C: they cost as much as the rest of the decode. ScaledIdct takes those
// transforms over and does them eight blocks side by side, as floating-point vectors.
//
// It fits into the decoder through its table of transforms (one function a component), which
// libjpeg fills as decompressing starts. The table is internal to the library, so a slot is
// taken over only when it holds the very function that libjpeg-turbo exports under the name
// jpeg_idct_NxN (looked up by name): with any other library, or a table laid out otherwise,
// nothing is changed.
//
// Eight blocks of one component are gathered before they are transformed; libjpeg reads a row
// of blocks only after the last block of that row is transformed, and that block always
// completes its batch.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace nimbrel::codecs::detail {

class ScaledIdct {
public:
    // The number of blocks transformed together.
    static constexpr int kBatch = 8;

    // Call right after jpeg_start_decompress (which fills the table). Points cinfo.client_data
    // at this object, which must outlive the decode. Returns the number of components taken over.
    int TakeOver(jpeg_decompress_struct& cinfo);

    // A block as libjpeg hands it over: transformed now, or kept until its batch is complete.
    void Add(jpeg_component_info& component, const JCOEF* coefficients, JSAMPARRAY rows, JDIMENSION column);

private:
    struct Pending {
        int size = 0;                    // the N of the NxN blocks written
        int lastColumn = 0;              // where the last block of a row is written
        float quant[64] = {};            // the component's dequantisation, in natural order
        int count = 0;                   // blocks waiting
        alignas(32) JCOEF blocks[kBatch][64];
        JSAMPARRAY rows[kBatch] = {};
        JDIMENSION columns[kBatch] = {};
    };
    void Flush(Pending& pending);

    Pending pending_[MAX_COMPONENTS];
};

// The transform itself, for the tests: `count` blocks (1 to 8) of 64 coefficients in natural
// order, dequantised with `quant`, each written as size x size pixels to its rows from its column.
// `wide` allows the AVX2 variant (the pixels are the same). False for a size not handled here.
bool ScaledInverseDct(int size, const JCOEF (*blocks)[64], int count, const float* quant, JSAMPARRAY const* rows,
                      const JDIMENSION* columns, bool wide);

}  // namespace nimbrel::codecs::detail
