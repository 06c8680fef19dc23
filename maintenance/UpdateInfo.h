#pragma once

#include "foundation/JsonObjectBase.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The update manifest that the update service answers: the newest version, the package's address
// (carried, not used: the package always comes from the download server's "Update.zip"), the
// release notes, and the package's length in bytes (decimal text) and SHA-256 (64 hex digits),
// which the package is checked against before anything in it is unpacked or started. Texts are in
// the process code page (see CJsonObjectBase).
class CUpdateInfo : public CJsonObjectBase {
public:
    CUpdateInfo() { BindFields(); }
    CUpdateInfo(const CUpdateInfo& other)
        : CJsonObjectBase(other), version(other.version), downloadurl(other.downloadurl),
          description(other.description), size(other.size), sha256(other.sha256)
    {
        BindFields();
    }
    CUpdateInfo& operator=(const CUpdateInfo& other)
    {
        version = other.version;
        downloadurl = other.downloadurl;
        description = other.description;
        size = other.size;
        sha256 = other.sha256;
        return *this;
    }
    void BindFields() override;

    std::string version;
    std::string downloadurl;
    std::string description;
    std::string size;
    std::string sha256;
};

// Versions compare with CompareVersions (emulator/EmulatorList.h): by their dot-separated
// components, each by the leading-digits rule, a missing component counting as 0, so "0.1.0" is
// newer than "0.0.14" and "0.0.9" older.

// What the manifest promises about the package: its length and SHA-256 (lower-case hex). Nullopt
// when either is missing or malformed (a length that is not plain decimal digits or does not fit in
// 63 bits, a hash that is not 64 hex digits).
struct UpdatePackageDigest {
    int64_t size = 0;
    std::string sha256;
};
std::optional<UpdatePackageDigest> PackageDigestOf(const CUpdateInfo& info);

// The SHA-256 of the file at `path` as 64 lower-case hex digits; nullopt when it cannot be read.
std::optional<std::string> FileSha256(const std::string& path);

// The code a refused package fails with (state 9), and its text.
inline constexpr int kPopErrorPackageRefused = 1004;
inline constexpr char16_t kPackageRefusedText[] = u"升级包校验失败";

// Checks the downloaded package at `path` against `digest`: 0 when its length and SHA-256 match,
// kPopErrorPackageRefused when they do not, when there is no digest, or when the file cannot be read.
int VerifyUpdatePackage(const std::string& path, const std::optional<UpdatePackageDigest>& digest);
