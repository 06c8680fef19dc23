// A small program around the single-instance code, started by the tests as a real second process.
//   single_instance_peer serve [data folder] - first instance: takes the lock (and the data folder's),
//                                 listens, prints "first", prints "shown" for each show request, ends
//                                 when its input closes.
//   single_instance_peer mute   - first instance that holds the lock but never answers.
// Started while another instance holds the lock, either mode asks that one to show itself and
// prints "second answered" or "second timeout", then exits 0. One that gets the runtime lock but
// finds the data folder's taken asks at the data folder's socket and prints the same.
#include "platform/SingleInstance.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "serve";
    const std::string dataFolder = argc > 2 ? argv[2] : "";
    platform::SingleInstance instance("quokkaapp", dataFolder);
    if (!instance.TryAcquire()) {
        bool answered = platform::SingleInstance::RequestShow("quokkaapp", 5000);
        std::printf("second %s\n", answered ? "answered" : "timeout");
        return 0;
    }
    if (!instance.TryAcquireDataFolder()) {
        bool answered = platform::SingleInstance::RequestShowAt(
            platform::SingleInstance::DataFolderSocketPath(dataFolder, "quokkaapp"), 5000);
        std::printf("second %s\n", answered ? "answered" : "timeout");
        return 0;
    }
    if (std::strcmp(mode, "serve") == 0) {
        instance.Listen([] {
            std::printf("shown\n");
            std::fflush(stdout);
        });
    }
    std::printf("first\n");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
    }
    return 0;
}
