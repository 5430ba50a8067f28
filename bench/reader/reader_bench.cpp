// The whole-picture reader against zxing-cpp's ReadBarcodes (Code 39 only, default hints), and
// the reader with a print quality grade of each symbol, on the same corpus pictures, decoded to
// grey before timing: one picture of each condition that holds Code 39, in the order of the corpus
// manifest.
//
//   scan39_reader_bench [--corpus=DIR] [benchmark flags]     (or SCAN39_CORPUS=DIR)
//
// Without a corpus it says so and runs nothing. At the end it prints each reader's median time
// per picture over all the pictures.

#include <benchmark/benchmark.h>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "scan39/grade.h"
#include "scan39/reader.h"

#ifdef SCAN39_HAVE_ZXING
#include <ZXing/ReadBarcode.h>
#endif

namespace {

constexpr std::size_t kPictures = 20;

struct Picture {
    std::string name;  // condition/file
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> grey;
    scan39::reader::ReadOptions options;
};

// A field's string value from one manifest line; the generator writes them without escapes.
std::string Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\": \"";
    const auto at = line.find(tag);
    if (at == std::string::npos) return {};
    const auto start = at + tag.size();
    return line.substr(start, line.find('"', start) - start);
}

std::vector<Picture> LoadCorpus(const std::string& dir) {
    std::vector<Picture> pictures;
    std::ifstream manifest(dir + "/manifest.jsonl");
    std::set<std::string> seen;
    std::string line;
    while (pictures.size() < kPictures && std::getline(manifest, line)) {
        const std::string condition = Field(line, "condition");
        if (line.find("\"texts\": []") != std::string::npos || !seen.insert(condition).second)
            continue;
        const QImage image = QImage(QString::fromStdString(dir + "/" + Field(line, "file")))
                                 .convertToFormat(QImage::Format_RGB888);
        if (image.isNull()) continue;
        Picture p;
        p.name = Field(line, "file");
        p.width = image.width();
        p.height = image.height();
        p.grey.resize(static_cast<std::size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y) {
            const uchar* px = image.constScanLine(y);
            for (int x = 0; x < p.width; ++x, px += 3)
                p.grey[static_cast<std::size_t>(y) * p.width + x] =
                    scan39::reader::Grey(px[0], px[1], px[2]);
        }
        if (line.find("\"check_character\": true") != std::string::npos)
            p.options.checkCharacter = scan39::reader::CheckCharacter::kRequired;
        p.options.fullAscii = line.find("\"full_ascii\": true") != std::string::npos;
        pictures.push_back(std::move(p));
    }
    return pictures;
}

void ReadWith(benchmark::State& state, const Picture& p, scan39::reader::Effort effort) {
    auto options = p.options;
    options.effort = effort;
    const scan39::reader::GreyView view{p.grey.data(), p.width, p.height, p.width};
    std::size_t found = 0;
    for (auto _ : state) {
        auto symbols = scan39::reader::Read(view, options);
        found = symbols.size();
        benchmark::DoNotOptimize(symbols);
    }
    state.counters["symbols"] = static_cast<double>(found);
}

// The same read and a print quality grade of every symbol it found: what --grade costs.
void ReadAndGrade(benchmark::State& state, const Picture& p) {
    const scan39::reader::GreyView view{p.grey.data(), p.width, p.height, p.width};
    std::size_t found = 0;
    for (auto _ : state) {
        auto symbols = scan39::reader::Read(view, p.options);
        for (const auto& s : symbols) {
            auto grade = scan39::reader::Grade(view, s);
            benchmark::DoNotOptimize(grade);
        }
        found = symbols.size();
    }
    state.counters["symbols"] = static_cast<double>(found);
}

#ifdef SCAN39_HAVE_ZXING
void ZXingRead(benchmark::State& state, const Picture& p) {
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code39);
    const ZXing::ImageView view(p.grey.data(), p.width, p.height, ZXing::ImageFormat::Lum);
    std::size_t found = 0;
    for (auto _ : state) {
        auto results = ZXing::ReadBarcodes(view, hints);
        found = results.size();
        benchmark::DoNotOptimize(results);
    }
    state.counters["symbols"] = static_cast<double>(found);
}
#endif

// Keeps every run's time per iteration so the medians per reader can be printed at the end.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    using ConsoleReporter::ConsoleReporter;
    // Times are in milliseconds: every benchmark here is registered with that unit.
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const std::string name = run.benchmark_name();
            auto& times = times_[name.substr(0, name.find('/'))];
            times.real.push_back(run.GetAdjustedRealTime());
            times.cpu.push_back(run.GetAdjustedCPUTime());
        }
    }
    // CPU time too: on a shared machine the wall clock also counts other people's work.
    void PrintMedians() const {
        for (auto [reader, times] : times_) {
            std::printf("median %-16s %8.3f ms real %8.3f ms CPU per picture over %zu pictures\n",
                        reader.c_str(), Median(times.real), Median(times.cpu), times.real.size());
        }
    }

  private:
    static double Median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    struct Times {
        std::vector<double> real;
        std::vector<double> cpu;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string dir = SCAN39_DEFAULT_CORPUS;
    if (const char* env = std::getenv("SCAN39_CORPUS")) dir = env;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--corpus=", 0) == 0)
            dir = arg.substr(9);
        else
            rest.push_back(argv[i]);
    }
    static const std::vector<Picture> pictures = LoadCorpus(dir);
    if (pictures.empty()) {
        std::printf("no corpus pictures in %s (make_corpus.py writes them): skipped\n",
                    dir.c_str());
        return 0;
    }
    for (const auto& p : pictures) {
        benchmark::RegisterBenchmark(("Reader_thorough/" + p.name).c_str(), ReadWith, p,
                                     scan39::reader::Effort::kThorough)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reader_graded/" + p.name).c_str(), ReadAndGrade, p)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reader_fast/" + p.name).c_str(), ReadWith, p,
                                     scan39::reader::Effort::kFast)
            ->Unit(benchmark::kMillisecond);
#ifdef SCAN39_HAVE_ZXING
        benchmark::RegisterBenchmark(("ZXing/" + p.name).c_str(), ZXingRead, p)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    MedianReporter reporter(isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_Defaults
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintMedians();
    benchmark::Shutdown();
    return 0;
}
