#include "ui/DisplayLoss.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Trace.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

// Writes the line with one system call: stdio may hold locks or buffers that _exit never flushes.
void WriteLine(const std::string& message)
{
    std::string line = message + "\n";
    ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    (void)written; // nothing more can be done about a closed stderr
}

// The handler Qt's messages went to before the catch was armed.
std::atomic<QtMessageHandler> g_previousHandler{nullptr};

// What the UI thread does when exit() reaches it while armed. Lives in a thread-local object, so
// that exit() on this thread reaches it before the process-wide exit handlers.
class ExitCatch {
public:
    ExitCatch() = default;
    ExitCatch(const ExitCatch&) = delete;
    ExitCatch& operator=(const ExitCatch&) = delete;
    ~ExitCatch()
    {
        if (m_armed)
            End();
    }

    void Arm(int exitStatus, std::string message, std::function<void()> shutdown)
    {
        m_status = exitStatus;
        m_message = std::move(message);
        m_shutdown = std::move(shutdown);
        if (!m_armed)
            g_previousHandler = qInstallMessageHandler(&ExitCatch::OnQtMessage);
        m_armed = true;
    }
    void Disarm()
    {
        if (m_armed)
            qInstallMessageHandler(g_previousHandler.exchange(nullptr));
        m_armed = false;
        m_shutdown = nullptr;
    }
    bool Armed() const { return m_armed; }

private:
    // A display that cannot be reached while the application object is being made (gone before
    // the program connected) ends in a fatal message and abort(); it ends like a lost one instead.
    static void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text);

    [[noreturn]] void End()
    {
        platform::Trace("display lost: shutting down");
        // The watchdog ends the process if the shutdown hangs. It is never joined: either it or
        // this thread ends the process with _exit.
        std::thread([status = m_status, message = m_message] {
            std::this_thread::sleep_for(std::chrono::milliseconds(kDisplayLossShutdownBudgetMs));
            WriteLine(message + " (shutdown cut short)");
            ::_exit(status);
        }).detach();
        // Workers waiting for a dialog would wait forever on a loop that never runs again.
        RefuseUiRequests();
        try {
            if (m_shutdown)
                m_shutdown();
        } catch (...) {
            platform::Trace("display lost: the shutdown threw");
        }
        WriteLine(m_message);
        ::_exit(m_status);
    }

    bool m_armed = false;
    int m_status = 0;
    std::string m_message;
    std::function<void()> m_shutdown;
};

thread_local ExitCatch t_exitCatch;

void ExitCatch::OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    // Every message goes where it always went; only the UI thread's catch is armed.
    QtMessageHandler previous = g_previousHandler.load();
    if (previous != nullptr)
        previous(type, context, text);
    if (type == QtFatalMsg && t_exitCatch.m_armed && QCoreApplication::startingUp())
        t_exitCatch.End();
}

} // namespace

void ArmDisplayLossExit(int exitStatus, std::string message, std::function<void()> shutdown)
{
    t_exitCatch.Arm(exitStatus, std::move(message), std::move(shutdown));
}

void DisarmDisplayLossExit()
{
    t_exitCatch.Disarm();
}

bool DisplayLossExitArmed()
{
    return t_exitCatch.Armed();
}

} // namespace UiLib
