#include "platform/WindowWatch.h"

namespace platform {

namespace {

class UnavailableWindowWatch final : public IWindowWatch {
public:
    bool Available() const override { return false; }
    std::vector<TopLevelWindow> ListWindows() override { return {}; }
    bool HideWindow(unsigned long) override { return false; }
};

} // namespace

std::unique_ptr<IWindowWatch> OpenWindowWatch()
{
    return std::make_unique<UnavailableWindowWatch>();
}

} // namespace platform
