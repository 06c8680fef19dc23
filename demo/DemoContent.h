#pragma once

#include "demo/DemoUpdate.h"

#include <optional>
#include <string>

// Writes the stand-in server's data folder: a catalogue of made-up games over every platform and
// genre with drawn icons and screenshots, the download descriptors and the archives they name
// (single archives, volumes and a no-zip source), redirects for mirror addresses, the emulator
// list and the update manifest with their packages, and the publisher's signed index of them. Everything is
// generated here; the same folder comes out on every run, but for the serial and expiry of the index.
class CDemoContent {
public:
    // The number of games: every platform of the platform filter gets the same share.
    static constexpr int kGamesPerPlatform = 24;

    explicit CDemoContent(std::string dataDir);

    // Serves `package` as the self-update instead of the do-nothing one of version "0.0.14".
    void SetUpdatePackage(DemoUpdatePackage package) { m_update = std::move(package); }

    // Writes (or rewrites) the folder. Throws std::runtime_error when a file cannot be written.
    void Write();

private:
    std::string m_dir;
    std::optional<DemoUpdatePackage> m_update;
};
