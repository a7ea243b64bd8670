#pragma once
// The editor's pictures for the show engine: Qt's image readers (and their plugins) behind the
// core's decoder interface.

#include "imaging/picture_decoder.h"

namespace nimbrel::app {

// Reads whatever QImageReader reads, turned upright by its orientation; a JPEG shrinks as it is
// decoded when a size hint asks for less. The pixels are read on the first ReadRows, so opening
// only reads the header.
class QtPictureDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view name, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint hint = {}) override;
};

}  // namespace nimbrel::app
