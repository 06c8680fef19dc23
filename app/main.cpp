#include "app/CommandLine.h"
#include "app/Startup.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (std::optional<int> status = AnswerCommandLine(argc, argv, stdout, stderr))
        return *status;
    // Qt would abort without a display; a clear line and status 1 say why the program cannot start.
    if (!DisplayAvailable(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                          std::getenv("WAYLAND_DISPLAY"), std::getenv("WAYLAND_SOCKET"))) {
        std::fputs(kNoDisplayText, stderr);
        return 1;
    }
    return QuokkaMain();
}
