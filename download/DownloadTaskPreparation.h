#pragma once

#include "download/DownLoadUrl.h"
#include "download/DownloadSourceChooser.h"
#include "foundation/HttpClient.h"
#include "store/DownloadTaskRecord.h"

#include <cstdint>
#include <functional>
#include <string>

class CGameStore;

// Turning a new download task into one that is ready to be queued: the game's descriptor is
// requested, its sources are filled into the task's tables, the user picks a source and the task is
// stored. Runs on the download engine's worker thread; every step may block (the network for up to
// 10 s, the chooser until the user answers, the store until its worker has written the row).
//
// What a server names is checked before it can become a file name: the game id must be one plain
// name segment, `filename` a relative name inside the download folder without ".." or NUL (else the
// descriptor is refused), and the no-zip source is offered only when the first file of the sizes
// table is such a name too. A name is saved in the form it was checked in ('\\' read as '/').
// List entries holding ';' are left out, since the stored list format cannot keep them. Lists have
// ceilings (kMaxDescriptorLinks, kMaxDescriptorVolumes, kMaxDescriptorFiles): past one the
// descriptor is refused.

// The most entries of one URL or share-link list, of one volume set, and of the sizes table.
inline constexpr size_t kMaxDescriptorLinks = 64;
inline constexpr size_t kMaxDescriptorVolumes = 999;
inline constexpr size_t kMaxDescriptorFiles = 20000;

// How a preparation ended: ready to be queued; dropped without a word (no descriptor, the chooser
// closed, a game id that is no plain name); or one of the ends the user is told of: the descriptor
// refused (kErrorDescriptorRefused), less free space than the descriptor's `needsize`
// (kErrorDiskFull), the task's row not stored (kErrorNotStored).
enum class PrepareOutcome { Ready, Dropped, Refused, NoSpace, NotStored };

// The bytes free to the user on the file system of a native folder, -1 when unknown.
using FreeBytesFunction = std::function<int64_t(const std::string& folder)>;

// The bytes free on the file system that holds `folder` (a narrow path; the nearest folder of it
// that exists is measured), -1 when none can be measured.
int64_t FreeBytesFor(const std::string& folder);

// `name`, a relative file name a server gave, in the one form it is checked and used in: '/' for
// every separator ('\\' included), without "." components or doubled separators. False when it is
// empty, absolute, names a folder (ends with a separator) or would leave its folder.
bool NormalizedRelativeFileName(const std::string& name, std::string& normalized);

// Whether `name` can be used as one segment of a path: not empty, not "." or "..", and without '/',
// '\\' or NUL.
bool IsPlainNameSegment(const std::string& name);

// Fills the task's volume flag, file name and source tables from `descriptor` and works out the
// offer mask (kSourceBaiduPan, kSourceOwnServer, kSourceNoZip bits). Returns false when the
// descriptor is refused (an arcade emulator's `filename` that is not a safe relative name, a list
// past its ceiling); the task may then be partly filled. Linear in the descriptor's size.
bool FillDownloadTaskSources(DownloadTaskRecord& task, const CDownLoadUrl& descriptor, int& offerMask);

// Applies the chooser's answer to a filled task: kSourceBaiduPan and kSourceOwnServer become the
// source; kSourceNoZip also clears the extract flag and takes the first path of the sizes table,
// normalized, as the file name. Returns false, leaving the task as it was, for kSourceClosed, for
// any answer that is not a bit of `offerMask` and for a no-zip answer without a safe first path.
bool ApplyDownloadSource(DownloadTaskRecord& task, int choice, int offerMask);

// The whole preparation for a task in its first state. `owner` owns the source dialog. Returns Ready
// when the task is ready to be queued, stored with kStoreAddDownload; Dropped when the game id is
// not a plain name, the descriptor request failed (no identity, transfer failed, answer not JSON or
// too long, *cancel set) or the chooser answered closed; Refused when the descriptor cannot be used
// and NoSpace when its `needsize` is more than the free space of the task's folder (`freeBytes`,
// or the file system when empty), both before the chooser is asked; NotStored when the store did
// not take the row.
PrepareOutcome PrepareDownloadTask(DownloadTaskRecord& task, platform::HWND owner,
                                   IDownloadSourceChooser& chooser, CGameStore& store,
                                   const TransferCancel* cancel = nullptr,
                                   const FreeBytesFunction& freeBytes = {});
