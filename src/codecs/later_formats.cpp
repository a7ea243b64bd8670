// HEIF/AVIF, WebP and TIFF are not read yet by this build of the codecs.
#include "codecs/sources.h"

namespace nimbrel::codecs::detail {
SourcePtr OpenHeif(Bytes, const std::string&) {
    return nullptr;
}
SourcePtr OpenWebp(Bytes, imaging::DecodeHint) {
    return nullptr;
}
SourcePtr OpenTiff(Bytes) {
    return nullptr;
}
}  // namespace nimbrel::codecs::detail
