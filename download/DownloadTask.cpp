#include "download/DownloadTask.h"

#include "foundation/HttpClient.h"
#include "foundation/StringConv.h"

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

std::string DownloadErrorText(int code)
{
    switch (code) {
    case kErrorBodyTooLong:
        return Utf8ToOem("服务器发送的数据超出文件长度");
    case kErrorDescriptorRefused:
        return Utf8ToOem("下载信息有误");
    case kErrorNotStored:
        return Utf8ToOem("保存到数据库失败");
    case kErrorDiskFull:
        return Utf8ToOem("磁盘空间不足");
    default:
        return TransferErrorText(code);
    }
}
