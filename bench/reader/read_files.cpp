// Reads every Code 39 symbol in each picture named on the command line with the whole-picture
// reader and prints one record per picture, as `scan39 --json` does (the same writer):
//   {"file":...,"symbols":[{"text":...,"position":[[x,y],[x,y],[x,y],[x,y]],"angle":...,
//   "lines":...},...]}, or {"file":...,"error":...} for a picture it cannot load
// Options: --check-digit, --full-ascii, --fast. It exists so that the comparison and the
// reader's tuning loop can run before the command-line program reads without a box.

#include <QCoreApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "scan39/reader.h"
#include "scan39/record_json.h"

namespace {

std::vector<std::uint8_t> GreyPixels(const QImage& loaded, int& width, int& height) {
    const QImage rgb = loaded.convertToFormat(QImage::Format_RGB888);
    width = rgb.width();
    height = rgb.height();
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const uchar* p = rgb.constScanLine(y);
        std::uint8_t* out = grey.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x, p += 3) out[x] = scan39::reader::Grey(p[0], p[1], p[2]);
    }
    return grey;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // image format plugins
    scan39::reader::ReadOptions options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--check-digit") {
            options.checkCharacter = scan39::reader::CheckCharacter::kRequired;
        } else if (arg == "--full-ascii") {
            options.fullAscii = true;
        } else if (arg == "--fast") {
            options.effort = scan39::reader::Effort::kFast;
        } else if (arg == "--json") {
            // The only output there is; accepted so the same command line works for both.
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s [--check-digit] [--full-ascii] [--fast] PICTURE...\n",
                     argv[0]);
        return 2;
    }
    int status = 0;
    for (const auto& file : files) {
        const QImage image(QString::fromStdString(file));
        scan39::reader::Record record;
        record.file = file;
        if (image.isNull()) {
            record.error = "cannot load";
            std::printf("%s\n", scan39::reader::RecordJson(record).c_str());
            status = 2;
            continue;
        }
        int width = 0;
        int height = 0;
        const auto grey = GreyPixels(image, width, height);
        const auto symbols = scan39::reader::Read({grey.data(), width, height, width}, options);
        if (symbols.empty() && status == 0) status = 1;
        record.symbols = symbols;
        std::printf("%s\n", scan39::reader::RecordJson(record).c_str());
        std::fflush(stdout);
    }
    return status;
}
