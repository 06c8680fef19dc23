#include "app/CommandLine.h"

#include "maintenance/UpdateVersion.h"

#include <string_view>

namespace {

constexpr char kUsage[] =
    "Usage: quokka [--help | --version]\n"
    "Quokka, a desktop game hall: browse an online catalogue of console, handheld and arcade games,\n"
    "download them and play them in emulators that Quokka installs for you.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "Quokka keeps its settings, game library and emulators in the folder of its executable.\n"
    "Environment: QUOKKA_TRACE=1 writes debug traces to stderr; QT_QPA_PLATFORM=offscreen runs\n"
    "without a display.\n";

bool Set(const char* value)
{
    return value != nullptr && *value != '\0';
}

// Platforms of a window system; every other platform Qt has draws without a display server.
bool NeedsDisplayServer(std::string_view name)
{
    return name == "xcb" || name.starts_with("wayland");
}

} // namespace

std::optional<int> AnswerCommandLine(int argc, const char* const argv[], std::FILE* out, std::FILE* err)
{
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "-session" && i + 1 < argc) {
            ++i;
        } else {
            std::fprintf(err, "quokka: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (help) {
        std::fputs(kUsage, out);
        return 0;
    }
    if (version) {
        std::fprintf(out, "quokka %s\n", QuokkaVersion());
        return 0;
    }
    return std::nullopt;
}

bool DisplayAvailable(const char* platform, const char* display, const char* waylandDisplay,
                      const char* waylandSocket)
{
    if (Set(display) || Set(waylandDisplay) || Set(waylandSocket))
        return true;
    if (!Set(platform))
        return false; // the desktop's default platform is a window system's
    std::string_view list = platform;
    while (!list.empty()) {
        const size_t end = list.find(';');
        std::string_view entry = list.substr(0, end);
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty() && !NeedsDisplayServer(entry))
            return true;
        if (end == std::string_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return false;
}
