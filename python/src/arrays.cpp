#include "arrays.h"

#include "loading.h"

namespace scan39::python {

namespace {

reader::PixelFormat FormatOf(int channels) {
    return channels == 1   ? reader::PixelFormat::kGrey
           : channels == 3 ? reader::PixelFormat::kRgb
                           : reader::PixelFormat::kRgba;
}

}  // namespace

PictureFailure::PictureFailure(int number, const std::string& description, const std::string& path,
                               bool missing)
    : std::runtime_error(description),
      number_(number),
      description_(description),
      path_(path),
      missing_(missing) {}

GreyPicture GreyOf(const ArrayPixels& p) {
    CheckPixelCount(p.width, p.height);
    GreyPicture out;
    const int w = static_cast<int>(p.width), h = static_cast<int>(p.height);
    reader::ImageView view{p.data, w, h, p.rowStride, FormatOf(p.channels)};
    const std::ptrdiff_t pixel = p.channels;
    const bool inRows = (p.channels == 1 || p.channelStride == 1) && p.columnStride == pixel &&
                        p.rowStride >= p.width * pixel;
    if (w > 0 && h > 0 && !inRows) {
        out.packed.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) *
                          static_cast<std::size_t>(pixel));
        for (std::ptrdiff_t y = 0; y < p.height; ++y) {
            const std::uint8_t* from = p.data + y * p.rowStride;
            std::uint8_t* to = out.packed.data() + y * p.width * pixel;
            for (std::ptrdiff_t x = 0; x < p.width; ++x)
                for (int c = 0; c < p.channels; ++c)
                    to[x * pixel + c] = from[x * p.columnStride + c * p.channelStride];
        }
        view.data = out.packed.data();
        view.stride = p.width * pixel;
    }
    if (w == 0 || h == 0) view.stride = static_cast<std::ptrdiff_t>(w) * pixel;
    out.grey.emplace(view);
    // The reader made its own grey of colour pixels: the packed copy is done with.
    if (p.channels > 1) out.packed = {};
    return out;
}

}  // namespace scan39::python
