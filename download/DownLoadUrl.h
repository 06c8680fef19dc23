#pragma once

#include "foundation/HttpClient.h"
#include "foundation/JsonObjectBase.h"

#include <cstdint>
#include <string>
#include <vector>

// The download descriptor of one game, as the catalogue server's user API answers it: where the
// game's files are (the own download server, as one archive or as volumes; a no-zip source; share
// links) and the sizes of the game's files. Keys are bound in the answer's documented order.
// Strings inside arrays stay UTF-8; scalar strings are in the process code page.

// One file of the game: its relative path and its size in bytes as decimal text.
class CVerify : public CJsonObjectBase {
public:
    CVerify() { BindFields(); }
    CVerify(const CVerify&) = delete;
    CVerify& operator=(const CVerify&) = delete;
    void BindFields() override;

    std::string path;
    std::string size;
    std::string verify;
};

// Share links: without volumes each string is one link; with volumes each string is one whole set
// in the volume list format (ParseVolumeList).
class CCloudUrl : public CJsonObjectBase {
public:
    CCloudUrl() { BindFields(); }
    CCloudUrl(const CCloudUrl&) = delete;
    CCloudUrl& operator=(const CCloudUrl&) = delete;
    void BindFields() override;

    std::vector<std::string> baidu;
};

class CDownLoadUrl : public CJsonObjectBase {
public:
    CDownLoadUrl() { BindFields(); }
    CDownLoadUrl(const CDownLoadUrl&) = delete;
    CDownLoadUrl& operator=(const CDownLoadUrl&) = delete;
    void BindFields() override;
    JsonObjectPtr NewArrayElement(const std::string& key) override;

    std::vector<std::string> filelist;  // further URLs of the single archive, after fileurl
    std::vector<std::string> filelist2; // further no-zip URLs, after fileurl2
    CCloudUrl cloudurl;
    int32_t status = 0; // not examined by the download path
    std::string msg;
    std::string fileurl;
    std::string fileurl2;
    std::string filename; // the file name to save as, for the arcade emulators only
    int64_t needsize = 0;
    std::string filemd5;
    std::vector<JsonObjectPtr> verify; // CVerify elements
    float _run_time = 0.0f;
    std::string volume; // "1": the game comes as volumes
    std::string volumeurl;

    // The elements of `verify` that are CVerify objects, in order.
    std::vector<const CVerify*> VerifyEntries() const;
};

// The largest descriptor answer taken; a longer one fails the request.
constexpr size_t kMaxDescriptorBytes = 1024 * 1024;

// Asks the user API for the descriptor of `gameId` with the installation's identity (EnsureUser on
// the program's settings file first; without an identity no request is made). Blocks for up to 10 s
// or until *cancel is set. True when the transfer succeeded and the answer, at most
// kMaxDescriptorBytes, is JSON that filled `descriptor`; false otherwise, with `descriptor` as it was.
bool RequestDownloadDescriptor(const std::string& gameId, CDownLoadUrl& descriptor,
                               const TransferCancel* cancel = nullptr);
// The same with the identity of the settings file at `configPath`.
bool RequestDownloadDescriptor(const std::string& configPath, const std::string& gameId,
                               CDownLoadUrl& descriptor, const TransferCancel* cancel);
