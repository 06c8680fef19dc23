#include "demo/DemoEmulators.h"

#include "demo/DemoZip.h"

#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One configuration file of an emulator: the defaults for gamepad and keyboard play, which the
// package carries in GamePadCfg/ and KeyBoardCfg/ under `file`, and where in the emulator's folder
// the emulator reads it (`target`; the launcher points the emulator there).
struct DemoConfig {
    const char* file;
    const char* target;
    const char* gamepad;
    const char* keyboard;
};

// One emulator from Debian's packages, wrapped in a package of its own.
struct DemoPackage {
    const char* name;     // the emulator's folder name, and the package's file name
    const char* debian;   // the Debian package that holds the program
    const char* program;  // the program the launcher starts
    const char* setup;    // shell lines that point the program at this folder
    const char* argsHead; // arguments before the ones the launcher is given
    DemoConfig config;
};

// A listed emulator: a platform key with the package that serves it.
struct DemoListing {
    const char* key;
    int typeId;
    const char* emulatorId;
    const DemoPackage* package;
    const char* executeParam;
};

// The keys that the FC tips promise beside the game: Esc ends it, F5 saves and F7 loads the quick
// state. fceux's own defaults quit with Ctrl+Q and load slots 5 and 7 with F5 and F7, so those two
// slot keys are unbound.
#define QUOKKA_DEMO_FCEUX_HOTKEYS                                                                            \
    "SDL.Hotkeys.Quit = Escape\nSDL.Hotkeys.SaveState = F5\nSDL.Hotkeys.LoadState = F7\n"                    \
    "SDL.Hotkeys.LoadState5 = \nSDL.Hotkeys.LoadState7 = \n"

const DemoPackage kFceux = {"fceux",
                            "fceux",
                            "fceux",
                            "export FCEUX_HOME=\"$here\"",
                            "",
                            {"fceux.cfg", ".fceux/fceux.cfg",
                             "SDL.Input.0 = GamePad.0\nSDL.Input.GamePad.0.DeviceType = "
                             "Joystick\nSDL.Input.GamePad.0.DeviceNum = 0\n" QUOKKA_DEMO_FCEUX_HOTKEYS,
                             "SDL.Input.0 = GamePad.0\nSDL.Input.GamePad.0.DeviceType = "
                             "Keyboard\nSDL.Input.GamePad.0.DeviceNum = 0\n" QUOKKA_DEMO_FCEUX_HOTKEYS}};
#undef QUOKKA_DEMO_FCEUX_HOTKEYS

const DemoPackage kMednafen = {
    "mednafen",
    "mednafen",
    "mednafen",
    "export MEDNAFEN_HOME=\"$here/mednafen\"",
    "",
    {"mednafen.cfg", "mednafen/mednafen.cfg",
     ";Quokka demo defaults: the first game controller drives port 1 with its built-in mapping.\n"
     "video.fs 0\n",
     ";Quokka demo defaults: the keyboard drives port 1 with its built-in mapping.\nvideo.fs 0\n"}};

const DemoPackage kMgba = {"mgba",
                           "mgba-sdl",
                           "mgba",
                           "export XDG_CONFIG_HOME=\"$here/config\"",
                           "",
                           {"config.ini", "config/mgba/config.ini",
                            "; Quokka demo defaults: the first game controller.\n[ports.sdl]\nfullscreen=0\n",
                            "; Quokka demo defaults: the keyboard.\n[ports.sdl]\nfullscreen=0\n"}};

const DemoPackage kMupen = {
    "mupen64plus",
    "mupen64plus-ui-console",
    "mupen64plus",
    "",
    "--configdir \"$here/config\"",
    {"mupen64plus.cfg", "config/mupen64plus.cfg",
     "[Input-SDL-Control1]\nversion = 2.000000\nmode = 2\ndevice = 0\nplugged = True\n",
     "[Input-SDL-Control1]\nversion = 2.000000\nmode = 1\ndevice = -1\nname = \"Keyboard\"\nplugged = "
     "True\n"}};

const DemoPackage kDesmume = {"desmume",
                              "desmume",
                              "desmume",
                              "export XDG_CONFIG_HOME=\"$here/config\"",
                              "",
                              {"config.cfg", "config/desmume/config.cfg",
                               "# Quokka demo defaults: the first game controller.\n",
                               "# Quokka demo defaults: the keyboard.\n"}};

const DemoPackage kMame = {"mame",
                           "mame",
                           "mame",
                           "",
                           "-inipath \"$here/ini\"",
                           {"mame.ini", "ini/mame.ini", "joystick 1\n", "joystick 0\n"}};

// Ids stay clear of the ids that the launcher and the configuration treat specially, except the
// three arcade ids, whose games the launcher copies into the emulator's roms/ folder.
const DemoListing kListings[] = {
    {"fc", 125, "1250002", &kFceux, ""},
    {"sfc", 121, "1210002", &kMednafen, ""},
    {"md", 122, "1220002", &kMednafen, ""},
    {"ps", 119, "1190002", &kMednafen, ""},
    {"pce", 148, "1480002", &kMednafen, ""},
    {"wsc", 131, "1310002", &kMednafen, ""},
    {"gba", 120, "1200002", &kMgba, ""},
    {"gbc", 124, "1240002", &kMgba, ""},
    {"n64", 130, "1300002", &kMupen, ""},
    {"nds", 127, "1270002", &kDesmume, ""},
    {"arcade", 126, "1260001", &kMame, "-rompath roms ~"},
    {"mame", 123, "1230001", &kMame, "-rompath roms ~"},
    {"mameplus", 146, "1460001", &kMame, "-rompath roms ~"},
};

const char* const kListKeys[] = {"fc", "sfc", "n64", "wii", "gbc", "gba",    "nds",  "md",      "dc",
                                 "ps", "ps2", "psp", "pce", "wsc", "arcade", "mame", "mameplus"};

void WriteText(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

std::string Launcher(const DemoPackage& package)
{
    std::string program = package.program;
    std::string script = "#!/bin/sh\n"
                         "# Starts " +
                         program + " from Debian's package " + package.debian +
                         " with its configuration in this folder.\n"
                         "here=$(cd \"$(dirname \"$0\")\" && pwd)\n"
                         // Debian puts its games' programs in /usr/games, which root's PATH leaves out
                         // (QUOKKA_GAMES_DIR names another folder for the tests).
                         "PATH=\"$PATH:${QUOKKA_GAMES_DIR:-/usr/games}\"\n"
                         "if ! command -v " +
                         program +
                         " >/dev/null 2>&1; then\n"
                         "    echo \"" +
                         program + " is not installed: install Debian's package " + package.debian +
                         " (scripts/install-emulators.sh does)\" >&2\n"
                         "    exit 127\n"
                         "fi\n";
    if (*package.setup != '\0')
        script += std::string(package.setup) + "\n";
    script += "exec " + program;
    if (*package.argsHead != '\0')
        script += " " + std::string(package.argsHead);
    script += " \"$@\"\n";
    return script;
}

std::string LauncherName(const DemoPackage& package)
{
    return std::string(package.name) + ".sh";
}

void WritePackage(const fs::path& path, const DemoPackage& package)
{
    CDemoZip zip(path.string());
    zip.Add(LauncherName(package), Launcher(package), 0755);
    zip.Add(std::string("GamePadCfg/") + package.config.file, package.config.gamepad);
    zip.Add(std::string("KeyBoardCfg/") + package.config.file, package.config.keyboard);
    if (&package == &kMame)
        zip.Add("roms/README.txt", "Arcade games are copied here before they start.\n");
    zip.Close();
}

// A runtime installer stand-in: a shell script that insists on the switches its job passes, then
// does what the detection of that runtime looks for.
struct DemoRuntime {
    const char* zip64;
    const char* zip32;
    const char* installer;
    bool msiexecSwitch;      // "/q:a" and the msiexec command; otherwise "/q"
    const char* displayName; // the uninstall entry it registers, "" for the DirectX libraries
};

// The silent switch of the 2005 and 2008 packages, as a Windows command line splits it.
constexpr char kMsiexecCommand[] = "/c:msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log";

std::string RuntimeInstaller(const DemoRuntime& runtime, const std::string& installer,
                             const std::string& arch)
{
    std::string script = "#!/bin/sh\n"
                         "# Stand-in for the runtime installer \"" +
                         installer + "\": it runs only with its silent switches.\n";
    if (runtime.msiexecSwitch)
        script += "if [ \"$#\" -ne 2 ] || [ \"$1\" != \"/q:a\" ] || [ \"$2\" != '" +
                  std::string(kMsiexecCommand) + "' ]; then\n";
    else
        script += "if [ \"$#\" -ne 1 ] || [ \"$1\" != \"/q\" ]; then\n";
    script += "    echo \"" + installer + ": wrong switches: $*\" >&2\n    exit 1\nfi\n";

    if (*runtime.displayName == '\0') {
        script += "dir=\"${SystemRoot:?SystemRoot names no registry emulation}/system32\"\n"
                  "mkdir -p \"$dir\" || exit 1\n"
                  "n=24\n"
                  "while [ \"$n\" -le 43 ]; do\n"
                  "    printf 'stand-in library\\n' > \"$dir/d3dx9_$n.dll\" || exit 1\n"
                  "    n=$((n + 1))\n"
                  "done\n";
        return script;
    }
    std::string keyName = std::string(runtime.installer);
    for (char& c : keyName)
        if (c == ' ' || c == '(' || c == ')' || c == '+')
            c = '_';
    script += "reg=$(mktemp) || exit 1\n"
              "cat > \"$reg\" <<'REG'\n"
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuokkaDemo_" +
              keyName + "_" + arch +
              "]\n"
              "\"DisplayName\"=\"" +
              std::string(runtime.displayName) + " (" + arch +
              ")\"\n"
              "\"Publisher\"=\"Quokka demo stand-in\"\n"
              "\"DisplayVersion\"=\"1.0\"\n\n"
              "REG\n"
              "quokka-regedit /s \"$reg\"\n"
              "status=$?\n"
              "rm -f \"$reg\"\n"
              "exit \"$status\"\n";
    return script;
}

const DemoRuntime kRuntimes[] = {
    {"Xinput64.zip", "Xinput32.zip", "Xinput.exe", false, "Microsoft Xbox 360 Accessories 1.2"},
    {"DirectX9c.zip", "DirectX9c.zip", "DirectX9c.exe", false, ""},
    {"Microsoft Visual C++ 2005 SP1 Redistributable Package (x64).zip",
     "Microsoft Visual C++ 2005 SP1 Redistributable Package (x86).zip", nullptr, true,
     "Microsoft Visual C++ 2005 Redistributable"},
    {"Microsoft Visual C++ 2008 SP1 Redistributable Package (x64).zip",
     "Microsoft Visual C++ 2008 SP1 Redistributable Package (x86).zip", nullptr, true,
     "Microsoft Visual C++ 2008 Redistributable - 9.0.30729.6161"},
    {"Microsoft Visual C++ 2010 SP1 Redistributable Package (x64).zip",
     "Microsoft Visual C++ 2010 SP1 Redistributable Package (x86).zip", nullptr, false,
     "Microsoft Visual C++ 2010 Redistributable - 10.0.40219"},
    {"Microsoft Visual C++ 2012 Redistributable (x64).zip",
     "Microsoft Visual C++ 2012 Redistributable (x86).zip", nullptr, false,
     "Microsoft Visual C++ 2012 Additional Runtime - 11.0.61030"},
};

void WriteRuntimes(const fs::path& download)
{
    for (const DemoRuntime& runtime : kRuntimes) {
        for (const char* zipName : {runtime.zip64, runtime.zip32}) {
            const std::string zip = zipName;
            const std::string arch = zip == runtime.zip32 && zip != runtime.zip64 ? "x86" : "x64";
            // The Visual C++ installers are named after their package with ".exe".
            const std::string installer =
                runtime.installer != nullptr ? runtime.installer : zip.substr(0, zip.size() - 4) + ".exe";
            DemoRuntime named = runtime;
            named.installer = installer.c_str();
            CDemoZip package((download / zip).string());
            package.Add(installer, RuntimeInstaller(named, installer, arch), 0755);
            package.Close();
        }
    }
}

} // namespace

void WriteDemoEmulators(const std::string& dataDir)
{
    const fs::path root(dataDir);
    const fs::path packages = root / "download/emulators";
    fs::remove_all(packages);
    fs::create_directories(packages);

    Json::Value list(Json::objectValue);
    for (const char* key : kListKeys)
        list[key] = Json::Value(Json::arrayValue);
    for (const DemoListing& listing : kListings) {
        const DemoPackage& package = *listing.package;
        Json::Value emulator;
        emulator["emulatorid"] = listing.emulatorId;
        emulator["name"] = package.name;
        emulator["version"] = "1.0.0";
        emulator["downloadurl"] = "{{origin}}/download/emulators/" + std::string(package.name) + ".zip";
        emulator["update"] = "2024-01-01";
        emulator["description"] = std::string(package.program) + " from Debian's package " + package.debian;
        emulator["emulatortype"] = std::to_string(listing.typeId);
        emulator["system"] = "linux";
        emulator["execute"].append(LauncherName(package));
        emulator["executeparam"] = listing.executeParam;
        emulator["configtype"] = "0";
        Json::Value key;
        key["source"] = package.config.file;
        key["target"] = package.config.target;
        key["defaultsource"] = "";
        emulator["keyconfig"].append(key);
        emulator["setconfig"] = Json::Value(Json::arrayValue);
        list[listing.key].append(emulator);
    }
    for (const DemoPackage* package : {&kFceux, &kMednafen, &kMgba, &kMupen, &kDesmume, &kMame})
        WritePackage(packages / (std::string(package->name) + ".zip"), *package);

    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    WriteText(root / "update/emulators.json", Json::writeString(writer, list) + "\n");
    WriteRuntimes(root / "download");
}
