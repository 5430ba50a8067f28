#pragma once
// What the fuzz targets share: failing so that libFuzzer keeps the input, writing a target's
// seed corpus, and an offscreen application for the targets that need Qt's image readers.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace scan39::fuzz {

// A property the target checks does not hold: abort, and libFuzzer saves the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

// One seed file of `bytes` in `dir`.
inline void WriteSeed(const std::filesystem::path& dir, const std::string_view name,
                      const std::string_view bytes) {
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("a seed file could not be written");
}

// With SCAN39_FUZZ_SEEDS=<dir> a target writes its seeds there and exits instead of fuzzing.
template <class WriteSeeds>
void WriteSeedsIfAsked(WriteSeeds writeSeeds) {
    if (const char* dir = std::getenv("SCAN39_FUZZ_SEEDS")) {
        writeSeeds(std::filesystem::path(dir));
        std::exit(0);
    }
}

}  // namespace scan39::fuzz
