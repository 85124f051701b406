// Time to load a KFW file whose stored image fills the loader's 256 KiB buffer.
#include "loader/kfw_file.h"
#include "loader/kfw_writer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void BM_LoadFullImage(benchmark::State& state) {
    const int recordLength = static_cast<int>(state.range(0));
    long size = 0;
    while (kfw::StoredImageSize(size + 1, recordLength) <= kfw::kImageBufferSize)
        ++size;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    kfw::KfwWriteOptions options;
    options.recordLength = recordLength;

    std::string path = (std::filesystem::temp_directory_path() / "kfw-bench-XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        state.SkipWithError("cannot make a temporary file");
        return;
    }
    close(fd);
    if (!kfw::WriteFirmwareFile(path, {}, data, options)) {
        state.SkipWithError("cannot write the file");
        std::remove(path.c_str());
        return;
    }

    auto image = std::make_unique<std::uint8_t[]>(kfw::kImageBufferSize);
    kfw::FirmwareHeader header;
    std::string info;
    int length = 0;
    for (auto _ : state) {
        if (kfw::LoadFirmwareFile(path, {header, info, image.get(), length}) != 0)
            state.SkipWithError("the file did not load");
        benchmark::DoNotOptimize(image.get());
    }
    state.counters["image_bytes"] = length;
    state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
    state.SetBytesProcessed(state.iterations() * length);
    std::remove(path.c_str());
}

BENCHMARK(BM_LoadFullImage)->Arg(16)->Arg(255)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
