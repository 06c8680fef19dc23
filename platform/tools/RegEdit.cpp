// quokka-regedit: imports and exports .reg files into the per-user registry, for installers,
// launchers and emulators that the program starts.
//
//   quokka-regedit /s FILE          imports FILE (silently; a refused file changes nothing)
//   quokka-regedit /e FILE [KEY]    exports KEY with its subtree, or the whole registry, to FILE
//
// The registry is the one in $SystemRoot when that is set (the program sets it for every child it
// starts), else the user's own. Exit status 0 on success; otherwise a message on standard error and 1
// (2 for a command line it does not understand).

#include "platform/RegFile.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Usage()
{
    std::fputs("usage: quokka-regedit /s FILE\n       quokka-regedit /e FILE [KEY]\n", stderr);
    return 2;
}

bool IsOption(const std::string& arg, char letter)
{
    return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') &&
           (arg[1] == letter || arg[1] == letter - 'a' + 'A');
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "quokka-regedit: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const std::string option = argv[1];
    const std::string file = argv[2];
    const char* systemRoot = std::getenv("SystemRoot");
    platform::Registry registry(systemRoot && *systemRoot ? std::string(systemRoot)
                                                          : platform::WindowsFolder());
    std::string error;

    if (IsOption(option, 's') && argc == 3) {
        if (!registry.ImportFile(file, &error))
            return Fail(error);
        return 0;
    }
    if (IsOption(option, 'e') && (argc == 3 || argc == 4)) {
        std::u16string key;
        if (argc == 4) {
            auto converted = platform::Utf8ToUtf16(argv[3]);
            if (!converted)
                return Fail("the key name is not valid UTF-8");
            key = std::move(*converted);
            if (key.empty())
                return Fail("an empty key name");
        }
        if (!registry.ExportFile(file, key, &error))
            return Fail(error);
        return 0;
    }
    return Usage();
}
