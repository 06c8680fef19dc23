#include "emulator/EmulatorConfig.h"

// Placeholder until the transfers are written: every step leaves the files as they are.
namespace emulator_config {

void EnsureUserDirectory(const EmulatorRecord&, int) {}
void TransferBeforeLaunch(const EmulatorRecord&, int, const std::string&) {}
void TransferAfterExit(const EmulatorRecord&, int, const std::string&) {}
void RestoreDefaults(const EmulatorRecord&, int) {}
void WriteControllers(const EmulatorRecord&) {}

} // namespace emulator_config
