// ZipExtract beside `unzip -qq -o` and `bsdtar -xf` on one archive of about 500 MiB of mixed file
// sizes that this program makes itself. Each extractor runs several times in turn into a fresh folder;
// the best time of each counts. Prints the times and the ratios to the two peers; the goal is no
// slower than 1.1 times unzip. Exits 1 when the goal is missed or an extraction fails.
//
//   zip_extract_bench [work folder] [rounds]
#include "download/Zip.h"
#include "foundation/StringConv.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Game-like content: runs of incompressible bytes between runs of repetitive text, so the archive
// holds both stored-like and well-compressed data.
class ContentMaker {
public:
    std::string Make(size_t size)
    {
        std::string data;
        data.reserve(size);
        while (data.size() < size) {
            const size_t run = std::min<size_t>(size - data.size(), 4096 + Next() % 28672);
            if (Next() % 2 == 0) {
                for (size_t i = 0; i < run; ++i)
                    data.push_back(static_cast<char>(Next()));
            } else {
                static const std::string kText = "level=3 sprite=hero x=120 y=64 palette=2 frames=8 loop=1\n";
                for (size_t i = 0; i < run; ++i)
                    data.push_back(kText[(i + m_state) % kText.size()]);
            }
        }
        return data;
    }

private:
    uint64_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    uint64_t m_state = 0x9E3779B97F4A7C15ULL;
};

struct FileGroup {
    int count;
    size_t size;
    const char* folder;
};

// About 500 MiB: two big images, medium data files and many small ones.
const FileGroup kGroups[] = {
    {2, 100u << 20, "big"},
    {50, 4u << 20, "data/medium"},
    {2000, 50u << 10, "data/small"},
    {1000, 2u << 10, "tiny"},
};

bool MakeSource(const fs::path& source)
{
    ContentMaker maker;
    for (const FileGroup& group : kGroups) {
        fs::create_directories(source / group.folder);
        for (int i = 0; i < group.count; ++i) {
            std::ofstream out(source / group.folder / ("file" + std::to_string(i) + ".bin"),
                              std::ios::binary);
            const std::string data = maker.Make(group.size);
            out.write(data.data(), static_cast<std::streamsize>(data.size()));
            if (!out)
                return false;
        }
    }
    return true;
}

// CPU seconds (user and system) of this process and of its finished children.
double CpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage;
        getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Wall-clock and CPU seconds of one run. The machine may be shared, so CPU time is the steadier measure.
struct Timing {
    double wall;
    double cpu;
};

Timing Measure(const std::function<bool()>& run, bool& ok)
{
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    ok = run() && ok;
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            CpuSeconds() - cpuStart};
}

std::string Quote(const fs::path& path)
{
    return "'" + path.string() + "'";
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quokka-zip-bench";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path source = work / "source";
    const fs::path archive = work / "bench.zip";
    const fs::path dest = work / "out";

    fs::create_directories(work);
    if (!fs::exists(archive)) {
        std::printf("making the archive in %s ...\n", work.string().c_str());
        fs::remove_all(source);
        CZip packer;
        if (!MakeSource(source) ||
            packer.ZipCompress(Utf8ToUtf16(source.string()), Utf8ToUtf16(archive.string()), true) != 1) {
            std::fprintf(stderr, "could not make the archive\n");
            return 1;
        }
        fs::remove_all(source);
    }
    std::printf("archive: %.1f MiB\n", static_cast<double>(fs::file_size(archive)) / (1 << 20));

    struct Extractor {
        const char* name;
        std::function<bool()> run;
        double bestWall = 1e30;
        double bestCpu = 1e30;
    };
    std::vector<Extractor> extractors = {
        {"ZipExtract",
         [&] {
             CZip zip;
             return zip.ZipExtract(Utf8ToUtf16(archive.string()), Utf8ToUtf16(dest.string())) == 1;
         }},
        {"unzip -qq -o",
         [&] { return std::system(("unzip -qq -o " + Quote(archive) + " -d " + Quote(dest)).c_str()) == 0; }},
        {"bsdtar -xf",
         [&] {
             fs::create_directories(dest);
             return std::system(("bsdtar -xf " + Quote(archive) + " -C " + Quote(dest)).c_str()) == 0;
         }},
    };

    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        for (Extractor& extractor : extractors) {
            fs::remove_all(dest);
            const Timing timing = Measure(extractor.run, ok);
            extractor.bestWall = std::min(extractor.bestWall, timing.wall);
            extractor.bestCpu = std::min(extractor.bestCpu, timing.cpu);
        }
    }
    fs::remove_all(dest);

    std::printf("%-14s %9s %9s\n", "best of runs", "wall s", "cpu s");
    for (const Extractor& extractor : extractors)
        std::printf("%-14s %9.3f %9.3f\n", extractor.name, extractor.bestWall, extractor.bestCpu);
    const double toUnzip = extractors[0].bestWall / extractors[1].bestWall;
    std::printf("ZipExtract / unzip:  wall %.3f (goal <= 1.10: %s), cpu %.3f\n", toUnzip,
                toUnzip <= 1.10 ? "met" : "MISSED", extractors[0].bestCpu / extractors[1].bestCpu);
    std::printf("ZipExtract / bsdtar: wall %.3f, cpu %.3f\n", extractors[0].bestWall / extractors[2].bestWall,
                extractors[0].bestCpu / extractors[2].bestCpu);
    if (!ok)
        std::fprintf(stderr, "an extraction failed\n");
    return ok && toUnzip <= 1.10 ? 0 : 1;
}
