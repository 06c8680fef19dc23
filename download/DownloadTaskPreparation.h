#pragma once

#include "download/DownLoadUrl.h"
#include "download/DownloadSourceChooser.h"
#include "foundation/HttpClient.h"
#include "store/DownloadTaskRecord.h"

class CGameStore;

// Turning a new download task into one that is ready to be queued: the game's descriptor is
// requested, its sources are filled into the task's tables, the user picks a source and the task is
// stored. Runs on the download engine's worker thread; every step may block (the network for up to
// 10 s, the chooser until the user answers, the store until its worker has written the row).
//
// What a server names is checked before it can become a file name: the game id must be one plain
// name segment, `filename` a relative name inside the download folder without ".." or NUL (else the
// task is dropped), and the no-zip source is offered only when the first file of the sizes table is
// such a name too. List entries holding ';' are left out, since the stored list format cannot keep
// them.

// Whether `name` can be used as one segment of a path: not empty, not "." or "..", and without '/',
// '\\' or NUL.
bool IsPlainNameSegment(const std::string& name);

// Fills the task's volume flag, file name and source tables from `descriptor` and works out the
// offer mask (kSourceBaiduPan, kSourceOwnServer, kSourceNoZip bits). Returns false, when the task
// must be dropped (an arcade emulator's `filename` that is not a safe relative name); the task may
// then be partly filled. Linear in the descriptor's size.
bool FillDownloadTaskSources(DownloadTaskRecord& task, const CDownLoadUrl& descriptor, int& offerMask);

// Applies the chooser's answer to a filled task: kSourceBaiduPan and kSourceOwnServer become the
// source; kSourceNoZip also clears the extract flag and takes the first path of the sizes table as
// the file name. Returns false, leaving the task as it was, for kSourceClosed and for any answer
// that is not a bit of `offerMask`.
bool ApplyDownloadSource(DownloadTaskRecord& task, int choice, int offerMask);

// The whole preparation for a task in its first state. `owner` owns the source dialog. Returns true
// when the task is ready to be queued (it was stored with kStoreAddDownload; a store that refuses,
// being shut down, does not stop the task); false when it must be dropped: the game id is not a plain
// name, the descriptor request failed (no identity, transfer failed, answer not JSON or too long,
// *cancel set), the file name is unsafe, or the chooser answered closed. Nothing is stored then.
bool PrepareDownloadTask(DownloadTaskRecord& task, platform::HWND owner, IDownloadSourceChooser& chooser,
                         CGameStore& store, const TransferCancel* cancel = nullptr);
