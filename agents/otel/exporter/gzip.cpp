#include "gzip.h"

#include <zlib.h>

#include <limits>

namespace otel {

struct gzip_compressor::stream {
    z_stream z{};
    bool ready = false;
    ~stream() {
        if (ready) deflateEnd(&z);
    }
};

gzip_compressor::gzip_compressor(int level) : level_(level) {}
gzip_compressor::~gzip_compressor() = default;

std::optional<std::string_view> gzip_compressor::compress(std::string_view in) {
    if (in.size() > std::numeric_limits<uInt>::max() / 2) return std::nullopt;
    try {
        if (!stream_) stream_ = std::make_unique<stream>();
        // Window bits 15 + 16: a gzip header and trailer around the deflate data.
        if (!stream_->ready &&
            deflateInit2(&stream_->z, level_, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return std::nullopt;
        }
        stream_->ready = true;
        z_stream& z = stream_->z;
        if (deflateReset(&z) != Z_OK) return std::nullopt;
        // Room for the worst case, so that one call finishes the member.
        out_.resize(deflateBound(&z, static_cast<uLong>(in.size())));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out_.data());
        z.avail_out = static_cast<uInt>(out_.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) return std::nullopt;
        out_.resize(z.total_out);
        return std::string_view(out_);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace otel
