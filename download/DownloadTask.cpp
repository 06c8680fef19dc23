#include "download/DownloadTask.h"

DownloadTask::~DownloadTask()
{
    // The manager joins every worker before it destroys a task; this only guards against a task
    // dropped with a worker still running, which would otherwise end the process.
    if (m_worker.joinable()) {
        if (m_control)
            m_control->RequestStop(true);
        m_worker.join();
    }
}
