#pragma once

// Checks the local-game folder watcher makes on the folders and files it meets.

#include <string>

// Whether `folder` lies on a file system whose changes can come from elsewhere: a network share (NFS,
// SMB/CIFS, AFS, Ceph, 9p, ...) or a FUSE mount (sshfs and the like), told by the file system type that
// statfs reports. inotify watches on such a folder are accepted but report only what this machine
// does there, never files another machine or the remote side adds, so the folder watcher scans these
// folders on its timer instead. False when the folder cannot be examined (it is missing, say).
bool IsRemoteFileSystem(const std::string& folder);

// Whether some process holds the file at `path` open for writing: a read lease is refused exactly
// then. Where leases are not available (a file of another owner, a file system without them) the file
// counts as complete. The lease is held for two calls; a writer opening the file meanwhile waits that
// long, and the notice the kernel sends then is SIGURG, which is ignored unless someone handles it
// (SIGIO, the default, would end the process).
bool IsOpenForWriting(const std::string& path);
