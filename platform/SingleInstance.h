#pragma once

#include <functional>
#include <string>
#include <thread>

namespace platform {

// One running instance per user and name, and one per data folder. The first process holds an
// exclusive lock on a file in the runtime folder for its whole life, and, when it has a data folder,
// a second one on "<dataFolder><name>.lock": two copies whose runtime folders differ (one started
// without XDG_RUNTIME_DIR, say) still never run on the same data. Once it listens, it answers on a
// Unix socket beside each lock, where a later start asks it to show its window.
//
// Threads: Listen starts one listener thread; the destructor stops and joins it. Nothing blocks
// except RequestShow and RequestShowAt, which are meant for a second instance before it exits.
class SingleInstance {
public:
    // `dataFolder` ends with '/'; empty for none.
    explicit SingleInstance(std::string name, std::string dataFolder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock without waiting. True when this process is the first instance; the lock is
    // kept until the object is destroyed (or the process ends).
    bool TryAcquire();

    // Takes the data folder's lock without waiting. True when no other process holds it; also true
    // without a data folder, or when the lock file cannot be made there (nothing can be told then,
    // and a folder that cannot be written is found out by what the program writes next). Kept until
    // the object is destroyed (or the process ends).
    bool TryAcquireDataFolder();

    // First instance only: answers show requests from later starts, on the runtime folder's socket
    // and, once the data folder's lock is held, on the data folder's socket (when its path fits an
    // address). `onShow` runs on the listener thread, so it must only post to the UI loop. Returns
    // false when no socket can be made.
    bool Listen(std::function<void()> onShow);

    // Second instance: asks the first to show its window, retrying until it answers or timeoutMs
    // have passed since the first attempt. True when the first instance answered.
    static bool RequestShow(const std::string& name, int timeoutMs = 5000);
    // The same at the socket `socketPath`, the data folder's one, say.
    static bool RequestShowAt(const std::string& socketPath, int timeoutMs = 5000);

    // The lock file and the socket, in the private RuntimeFolder; empty when there is none.
    static std::string LockPath(const std::string& name);
    static std::string SocketPath(const std::string& name);
    // The socket beside the data folder's lock.
    static std::string DataFolderSocketPath(const std::string& dataFolder, const std::string& name);

private:
    void Serve();

    std::string m_name;
    std::string m_dataFolder;
    int m_lockFd = -1;
    int m_folderLockFd = -1;
    int m_listenFd = -1;
    int m_folderListenFd = -1;
    int m_wakeFd = -1;
    std::function<void()> m_onShow;
    std::thread m_listener;
};

} // namespace platform
