// Feeds arbitrary bytes as a descriptor answer through CDownLoadUrl, the table filling and every
// source choice. Besides not crashing or hanging: a file name taken from the answer stays inside
// the download folder, no table holds a value the stored lists would split, and a volume answer
// never offers the no-zip source.
#include "download/DownLoadUrl.h"
#include "download/DownloadTaskPreparation.h"
#include "foundation/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool Storable(const std::string& text)
{
    return text.find(';') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxDescriptorBytes)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    CDownLoadUrl descriptor;
    if (!descriptor.ParseText(text))
        return 0;
    for (const char* emulator : {"125", "123"}) {
        for (int choice : {kSourceBaiduPan, kSourceClosed, kSourceOwnServer, kSourceNoZip}) {
            DownloadTaskRecord task;
            task.GameId = "1";
            task.EmulatorId = emulator;
            task.FileName = "1.zip";
            task.NeedUnZip = "1";
            int mask = 0;
            if (!FillDownloadTaskSources(task, descriptor, mask))
                continue;
            Check((mask & ~(kSourceBaiduPan | kSourceOwnServer | kSourceNoZip)) == 0);
            Check(!(task.Volume == "1" && (mask & kSourceNoZip)));
            for (const auto* table : {&task.UrlList, &task.PanUrlList, &task.NoZipUrlList})
                for (const auto& [key, value] : *table)
                    Check(Storable(value) && !value.empty());
            for (const auto* sets : {&task.VolumeUrlList, &task.VolumePanUrlList})
                for (const auto& [set, volumes] : *sets)
                    for (const auto& [number, value] : volumes)
                        Check(Storable(value) && !value.empty() && number >= 0);
            if (ApplyDownloadSource(task, choice, mask)) {
                Check(task.Source == choice);
                std::string joined;
                Check(JoinInsideFolder("/download/", task.FileName, joined));
            }
        }
    }
    return 0;
}
