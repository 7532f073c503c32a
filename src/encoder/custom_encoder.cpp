#include "encoder/custom_encoder.h"

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/version.h>
}

namespace qv {

TCustomEncoder::TCustomEncoder()
    : FVersion("1.0 (built for libavformat " AV_STRINGIFY(LIBAVFORMAT_VERSION) ", libavcodec " AV_STRINGIFY(
          LIBAVCODEC_VERSION) ")") {}

}  // namespace qv
