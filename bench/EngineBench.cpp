// Engine throughput: a plain-text job through the whole byte loop on a
// printer that draws nothing, so only the engine's own work is measured.
#include "engine/PrintEngine.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>

using namespace marlix;

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
    void setPenWidth(int) override {}
    void moveTo(int, int) override {}
    void lineTo(int, int) override {}
    void fillRect(int, int, int, int, std::uint32_t) override {}

private:
    bool open_ = false;
    Orientation orientation_ = Orientation::Portrait;
    int width_ = 50;
};

// 10 MB of 80-column report lines with a form feed every 60 lines.
std::string plainJob() {
    const auto path = std::filesystem::temp_directory_path() / "marlix-bench-plain.prn";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) >= 10'000'000)
        return path.string();
    std::string line;
    for (int i = 0; i < 78; ++i)
        line += char(33 + i % 90);
    line += "\r\n";
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0, n = 0; written < 10'000'000; written += line.size(), ++n) {
        out << line;
        if (n % 60 == 59) out << '\f';
    }
    return path.string();
}

void BM_PlainJob(benchmark::State& state) {
    const std::string job = plainJob();
    NullPrinter printer;
    PrintEngine engine(printer);
    engine.settings.defaultFont = false;
    for (auto _ : state)
        engine.PrintOut(job);
    state.SetBytesProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(std::filesystem::file_size(job)));
}
BENCHMARK(BM_PlainJob)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
