#include "demo/DemoUpdate.h"

#include "demo/DemoZip.h"

#include <json/json.h>
#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Sha256Hex(const std::string& bytes)
{
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), hash, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 not available");
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[hash[i] >> 4]);
        text.push_back(kHex[hash[i] & 15]);
    }
    return text;
}

// A JSON string literal of `text`.
std::string Quoted(const std::string& text)
{
    return Json::valueToQuotedString(text.c_str());
}

} // namespace

void WriteDemoUpdate(const std::string& dataDir, const std::optional<DemoUpdatePackage>& package)
{
    const fs::path root(dataDir);
    fs::create_directories(root / "update");
    fs::create_directories(root / "download");
    const std::string zipPath = (root / "download/Update.zip").string();
    std::string version = "0.0.14";
    {
        CDemoZip zip(zipPath);
        if (package) {
            zip.Add("quokka", ReadWhole(package->program), 0755);
            zip.Add("QuokkaUpdate.exe", ReadWhole(package->updater), 0755);
            version = package->version;
        } else {
            zip.Add("QuokkaUpdate.exe", "#!/bin/sh\nexit 0\n", 0755);
        }
        zip.Close();
    }
    const std::string bytes = ReadWhole(zipPath);
    // Written by hand so the keys keep their order: the three of the manifest, then the package's.
    std::string manifest = "{\n";
    manifest += "    \"version\": " + Quoted(version) + ",\n";
    manifest += "    \"downloadurl\": " + Quoted("{{origin}}/download/Update.zip") + ",\n";
    manifest += "    \"description\": " + Quoted("Quokka " + version) + ",\n";
    manifest += "    \"size\": " + Quoted(std::to_string(bytes.size())) + ",\n";
    manifest += "    \"sha256\": " + Quoted(Sha256Hex(bytes)) + "\n";
    manifest += "}\n";
    const std::string manifestPath = (root / "update/index.json").string();
    std::ofstream out(manifestPath, std::ios::binary | std::ios::trunc);
    out << manifest;
    if (!out.flush())
        throw std::runtime_error("cannot write " + manifestPath);
}
