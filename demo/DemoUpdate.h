#pragma once

#include <optional>
#include <string>

// The self-update package to serve: the new program, the updater (shipped as "QuokkaUpdate.exe")
// and the version the manifest names.
struct DemoUpdatePackage {
    std::string program;
    std::string updater;
    std::string version;
};

// Writes the update manifest (update/index.json: "version", "downloadurl", "description", then the
// package's "size" and "sha256") and the package it describes (download/Update.zip) into the data
// folder `dataDir`. Without a package the manifest names "0.0.14", the version of the program
// itself, and the package holds only an updater that does nothing. Throws std::runtime_error when a
// file cannot be read or written.
void WriteDemoUpdate(const std::string& dataDir, const std::optional<DemoUpdatePackage>& package);
