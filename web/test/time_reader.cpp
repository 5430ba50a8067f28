// Native side of the WebAssembly timing: reads binary PGM pictures and prints the median time
// of the reader on each, in milliseconds, as time_reader.mjs does for the module.
//   time_reader REPEATS PICTURE.pgm...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "scan39/reader.h"

namespace {

bool ReadPgm(const char* path, std::vector<std::uint8_t>& pixels, int& width, int& height) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    in.get();
    if (magic != "P5" || maxValue != 255 || width <= 0 || height <= 0) return false;
    pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(in);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: time_reader REPEATS PICTURE.pgm...\n");
        return 2;
    }
    const int repeats = std::max(1, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i) {
        std::vector<std::uint8_t> pixels;
        int width = 0, height = 0;
        if (!ReadPgm(argv[i], pixels, width, height)) {
            std::fprintf(stderr, "%s: not a binary PGM picture\n", argv[i]);
            return 2;
        }
        const scan39::reader::GreyView view{pixels.data(), width, height, width};
        std::vector<double> times;
        std::size_t found = 0;
        for (int r = 0; r < repeats; ++r) {
            const auto start = std::chrono::steady_clock::now();
            found = scan39::reader::Read(view).size();
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::sort(times.begin(), times.end());
        std::printf("%s %.3f %zu\n", argv[i], times[times.size() / 2], found);
    }
    return 0;
}
