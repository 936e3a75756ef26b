#include "gzip.h"

#include <zlib.h>

#include <algorithm>
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

std::optional<std::string_view> gzip_compressor::compress(std::string_view in, void (*pause)()) {
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
        // Room for the worst case, so that the calls below finish the member.
        out_.resize(deflateBound(&z, static_cast<uLong>(in.size())));
        z.next_out = reinterpret_cast<Bytef*>(out_.data());
        z.avail_out = static_cast<uInt>(out_.size());
        // A slice at a time; the output has room for all, so each call takes its whole slice.
        for (size_t at = 0;;) {
            const size_t piece = std::min(compress_slice, in.size() - at);
            const bool last = at + piece == in.size();
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + at));
            z.avail_in = static_cast<uInt>(piece);
            const int status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            if (last) {
                if (status != Z_STREAM_END) return std::nullopt;
                break;
            }
            if (status != Z_OK || z.avail_in != 0) return std::nullopt;
            at += piece;
            if (pause != nullptr) pause();
        }
        out_.resize(z.total_out);
        return std::string_view(out_);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace otel
