// Engine throughput: 10 MB jobs through the whole byte loop on a printer that
// draws nothing, so only the engine's own work is measured: plain text, and
// text dense with escape sequences.
#include "../tests/support/MemoryRegistry.h"
#include "engine/PrintEngine.h"
#include "schemes/SchemeStore.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>

using namespace marlix;

using namespace std::string_literals;

namespace {

class NullPrinter final : public PrinterDevice {
public:
    void setTitle(const std::string&) override {}
    void beginDoc() override { open_ = true; }
    void newPage() override {}
    void endDoc() override { open_ = false; }
    void abortDoc() override { open_ = false; }
    bool printing() const override { return open_; }
    bool aborted() const override { return false; }
    Orientation orientation() const override { return orientation_; }
    void setOrientation(Orientation o) override { orientation_ = o; }
    int resolutionX() const override { return 600; }
    int resolutionY() const override { return 600; }
    PageData pageData() const override { return {4960, 7016, 100, 100}; }
    void setFont(const LogicalFont& f) override { width_ = f.width > 0 ? f.width : 50; }
    void setFontColor(std::uint32_t) override {}
    void setTransparentBrush() override {}
    int textWidth(char16_t) override { return width_; }
    int textHeight(char16_t) override { return 100; }
    void drawChar(int, int, char16_t ch) override { benchmark::DoNotOptimize(ch); }
    void drawDotImage(int, int, int, int, const DotImage& image, std::uint32_t) override {
        benchmark::DoNotOptimize(image.bits.data());
    }
    void setPenWidth(int) override {}
    void moveTo(int, int) override {}
    void lineTo(int, int) override {}
    void fillRect(int, int, int, int, std::uint32_t) override {}

private:
    bool open_ = false;
    Orientation orientation_ = Orientation::Portrait;
    int width_ = 50;
};

enum class Kind { Plain, Scheme, Emulation };

// 10 MB of 80-column report lines with a form feed every 60 lines. With a
// scheme, every 10 bytes hold one of the "Default" scheme's sequences (bold
// on and off, pitch, a position, italic on and off); for the Epson emulation
// one of its commands (styles, ESC !, ESC $, line spacing) and, once a line,
// a 16-column bit image. The rest is text.
std::string job(Kind kind) {
    const char* names[] = {"plain", "sequences", "escp2"};
    const auto path =
        std::filesystem::temp_directory_path() / ("marlix-bench-"s + names[int(kind)] + ".prn");
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) >= 10'000'000)
        return path.string();
    std::string line;
    if (kind == Kind::Scheme) {
        const char* seqs[] = {"\x1b"
                              "B",
                              "\x1b"
                              "b",
                              "\x1bP12",
                              "\x1bX0360",
                              "\x1bI",
                              "\x1bi"};
        for (int i = 0; line.size() < 78; ++i) {
            const std::string seq = seqs[i % 6];
            line += seq + std::string(10 - seq.size(), char('a' + i % 26));
        }
    } else if (kind == Kind::Emulation) {
        const std::string seqs[] = {"\x1b"
                                    "E",
                                    "\x1b"
                                    "F",
                                    "\x1b"
                                    "4",
                                    "\x1b"
                                    "5",
                                    "\x1b!\x09",
                                    "\x1b!\x00"s,
                                    "\x1b$\x10\x00"s,
                                    "\x1b"
                                    "3\x1e"};
        line = "\x1bK\x10\x00"s + std::string(16, '\x5a');
        for (int i = 0; line.size() < 78; ++i)
            line += seqs[i % 8] + std::string(10 - seqs[i % 8].size(), char('a' + i % 26));
    } else {
        for (int i = 0; i < 78; ++i)
            line += char(33 + i % 90);
    }
    line += "\r\n";
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0, n = 0; written < 10'000'000; written += line.size(), ++n) {
        out << line;
        if (n % 60 == 59) out << '\f';
    }
    return path.string();
}

void run(benchmark::State& state, Kind kind) {
    const std::string file = job(kind);
    NullPrinter printer;
    PrintEngine engine(printer);
    engine.settings.defaultFont = false;
    // The "Default" scheme as a first start writes it.
    test::MemoryRegistry registry;
    SchemeStore scheme(registry);
    scheme.CheckSequencesRegistry();
    if (kind == Kind::Emulation)
        registry.openKey(kSettingsKey, true)->writeString("Sequence", kEscP2Scheme);
    if (kind != Kind::Plain) engine.sequences = &scheme;
    for (auto _ : state)
        engine.PrintOut(file);
    state.SetBytesProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(std::filesystem::file_size(file)));
}

void BM_PlainJob(benchmark::State& state) {
    run(state, Kind::Plain);
}
void BM_SequenceEvery10Bytes(benchmark::State& state) {
    run(state, Kind::Scheme);
}
void BM_EpsonCommandEvery10Bytes(benchmark::State& state) {
    run(state, Kind::Emulation);
}
BENCHMARK(BM_PlainJob)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequenceEvery10Bytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EpsonCommandEvery10Bytes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
