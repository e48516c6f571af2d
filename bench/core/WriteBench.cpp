// Two ways of putting a whole file under its final name, as the export writes
// 1000 images of 65,078 bytes (a 320 x 200 BMP):
//  - Unnamed: open(O_TMPFILE) in the target folder, write, then give the file a
//    name through /proc/self/fd: straight under the final name when it is free,
//    otherwise under a fresh temporary name that is then renamed over the old file.
//  - Named: openat(O_CREAT | O_EXCL) under a fresh temporary name, write, renameat.
// Each runs into fresh names and over existing files, in VAREK_BENCH_FOLDER
// (default /dev/shm, a tmpfs: the system's share of the cost, not the disk's).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 1000;
constexpr std::size_t kBytes = 65078;

fs::path BenchFolder()
{
    const char* base = std::getenv("VAREK_BENCH_FOLDER");
    return fs::path(base != nullptr ? base : "/dev/shm") / "varek-write-bench";
}

bool WriteAll(int file, const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::string TemporaryName(const std::string& name, std::mt19937& random)
{
    return "." + name + "." + std::to_string(random() % 1000000u) + ".tmp";
}

bool WriteUnnamed(int folder, const std::string& name, const std::vector<std::uint8_t>& bytes,
                  std::mt19937& random)
{
    const int file = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file < 0 || !WriteAll(file, bytes)) {
        return false;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    bool done = ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!done && errno == EEXIST) {
        const std::string temporary = TemporaryName(name, random);
        done =
            ::linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0 &&
            ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
    }
    return ::close(file) == 0 && done;
}

bool WriteNamed(int folder, const std::string& name, const std::vector<std::uint8_t>& bytes,
                std::mt19937& random)
{
    const std::string temporary = TemporaryName(name, random);
    const int file =
        ::openat(folder, temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (file < 0) {
        return false;
    }
    const bool written = WriteAll(file, bytes);
    return ::close(file) == 0 && written &&
           ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
}

template <bool (*Write)(int, const std::string&, const std::vector<std::uint8_t>&, std::mt19937&)>
void BM_Write1000(benchmark::State& state)
{
    const bool replace = state.range(0) != 0;
    const fs::path path = BenchFolder();
    const std::vector<std::uint8_t> bytes(kBytes, 0x5A);
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        names.push_back("A-" + std::to_string(1000 + i) + ".bmp");
    }
    std::mt19937 random(42);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(path);
        fs::create_directories(path);
        const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (replace) {
            for (const std::string& name : names) {
                WriteNamed(folder, name, bytes, random);
            }
        }
        state.ResumeTiming();
        for (const std::string& name : names) {
            if (!Write(folder, name, bytes, random)) {
                state.SkipWithError("a write failed");
                break;
            }
        }
        state.PauseTiming();
        ::close(folder);
        state.ResumeTiming();
    }
    fs::remove_all(path);
    state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_Write1000<WriteUnnamed>)
    ->Name("WriteFiles/Unnamed")
    ->ArgName("replace")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Write1000<WriteNamed>)
    ->Name("WriteFiles/Named")
    ->ArgName("replace")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
