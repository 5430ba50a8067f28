// Build-time generator of the embedded pictures:
//   scan39_samplegen CONTROL.bmp FORM.bmp
// writes the control's default picture and the window's sample picture.

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../layout_p.h"
#include "picture_p.h"

namespace {

using namespace scan39::samples;

std::vector<unsigned char> ControlPicture() {
    const auto& layout = detail::ControlLayout();
    tools::Bitmap bitmap(detail::kControlWidth, detail::kControlHeight);
    tools::DrawSymbol(bitmap, layout);
    // The human-readable line repeats the symbol's text under its bars.
    tools::DrawDigits(bitmap, layout.where.text, layout.where.left, layout.where.right,
                      detail::kControlDigitsTop);
    return bitmap.ToBmp(detail::kPixelsPerMetre);
}

std::vector<unsigned char> FormPicture() {
    tools::Bitmap bitmap(detail::kFormWidth, detail::kFormHeight);
    for (const auto& layout : detail::FormLayout()) tools::DrawSymbol(bitmap, layout);
    return bitmap.ToBmp(detail::kPixelsPerMetre);
}

void Write(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CONTROL.bmp FORM.bmp\n", argc > 0 ? argv[0] : "samplegen");
        return 2;
    }
    try {
        Write(argv[1], ControlPicture());
        Write(argv[2], FormPicture());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "samplegen: %s\n", e.what());
        return 1;
    }
    return 0;
}
