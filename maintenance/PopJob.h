#pragma once

#include "download/Zip.h"

#include <functional>
#include <string>
#include <string_view>

// The jobs of the installer window (CDownLoadPopFrame): what each kind downloads, where it unpacks,
// what it runs and what the window says meanwhile.
enum PopJobKind : int {
    kPopSelfUpdate = 0,
    kPopXinput = 1,
    kPopDirectX9c = 2,
    kPopVc2005 = 3,
    kPopVc2008 = 4,
    kPopVc2010 = 5,
    kPopVc2012 = 6,
    kPopEmulator = 7,
};

// The switches of the Visual C++ 2005 and 2008 packages, handed to their installers as they stand.
inline constexpr char kMsiexecSwitch[] =
    "/q:a /c:\"msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log\"";

// The emulator a kind-7 job installs. Name and version are narrow texts in the process code page,
// the address is used as it stands, and the folder is the native path the package unpacks into.
struct PopEmulator {
    std::string name;
    std::string version;
    std::string downloadUrl;
    std::string folder;
};

struct PopJob {
    int kind = kPopSelfUpdate;
    std::u16string caption;      // LB_Caption
    std::u16string downloadText; // LB_Status while downloading
    std::u16string successText;  // LB_Status after installing: kinds 1 to 6 by their check, 7 always
    std::u16string failureText;  // kinds 1 to 6 when their check still fails
    std::string zipPath;         // the local package (native path)
    std::string url;             // where the package is fetched
    std::string extractFolder;   // where it unpacks (native, ending with '/')
    std::string installer;       // native path of the program run after unpacking; empty: none
    std::string installerDir;    // the folder it starts in
    std::string switches;        // its parameter text
    bool resumePartial = false;  // keep a partial package from an earlier run and continue it
    bool deleteZipAfterExtract = false;
    bool waitForInstaller = false;
    // The extract folder is replaced whole: the package unpacks beside it and takes its place only
    // once complete, so a cancelled or failed installation leaves the old folder as it was.
    bool replaceFolder = false;
    // Each request for the package ends after this long at the latest (a time-out, after which the
    // next request resumes where the file ends). The download profile's 10 s unless changed.
    long attemptTimeoutMs = 10000;
    // What unpacking the package may write (CZip's own bounds unless changed).
    ZipLimits unpackLimits;
    // Looks at the downloaded package before it is unpacked: 0 lets it through, anything else is the
    // code the job fails with, after the package was deleted. Unset: every package goes through.
    std::function<int(const std::string& zipPath)> verifyPackage;
    // Starts the installer in place of StartProcess (the self-update's updater must outlive the
    // program); true when it started. Unset: StartProcess from installerDir.
    std::function<bool()> startInstaller;
};

// The package's name on the download server for the kind and the machine's word size (64 or 32);
// empty for kind 7 (the record names its address) and unknown kinds.
std::string PopServerFileName(int kind, int osBits);

// `text` with every byte except letters, digits, "-._~" and "/" written as %XX (upper-case hex),
// so names with spaces, '+' and brackets travel in a URL path.
std::string PercentEncodePath(std::string_view text);

// The job of `kind` for a machine of `osBits` bits: kinds 0 to 6 fetch their package from the download
// server's "/download/" path into `workDir` (a folder ending with '/') and unpack it there; kind 7
// fetches `emulator->downloadUrl` into workDir's "Emulator.zip" and unpacks it into
// `emulator->folder`. Returns false for an unknown kind, or kind 7 without an emulator.
bool MakePopJob(int kind, int osBits, const std::string& workDir, const PopEmulator* emulator, PopJob& job);

// Runs the detection of a kind 1 to 6 (see RuntimeChecks.h); false for other kinds.
bool RunPopJobCheck(int kind);
