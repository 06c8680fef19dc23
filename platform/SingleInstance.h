#pragma once

#include <functional>
#include <string>
#include <thread>

namespace platform {

// One running instance per user and name. The first process holds an exclusive lock on a file in
// the runtime folder for its whole life; once its main window exists it also listens on a Unix
// socket beside the lock, where a later start asks it to show that window.
//
// Threads: Listen starts one listener thread; the destructor stops and joins it. Nothing blocks
// except RequestShow, which is meant for a second instance before it exits.
class SingleInstance {
public:
    explicit SingleInstance(std::string name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock without waiting. True when this process is the first instance; the lock is
    // kept until the object is destroyed (or the process ends).
    bool TryAcquire();

    // First instance only: answers show requests from later starts. `onShow` runs on the listener
    // thread, so it must only post to the UI loop. Returns false when the socket cannot be made.
    bool Listen(std::function<void()> onShow);

    // Second instance: asks the first to show its window, retrying until it answers or timeoutMs
    // have passed since the first attempt. True when the first instance answered.
    static bool RequestShow(const std::string& name, int timeoutMs = 5000);

    // The lock file and the socket, in the private RuntimeFolder; empty when there is none.
    static std::string LockPath(const std::string& name);
    static std::string SocketPath(const std::string& name);

private:
    void Serve();

    std::string m_name;
    int m_lockFd = -1;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    std::function<void()> m_onShow;
    std::thread m_listener;
};

} // namespace platform
