// quokka-padview: the gamepad test window on the desktop, fed by virtual pads that move by
// themselves, for a person to look at where no real pad (and no uinput) is at hand.
//
//   quokka-padview [PADS] [--still]
//
// PADS (1 to 5, default 2) virtual XInput-style pads are attached inside this process, so the
// window's own poller reads them through the XInput stand-in as it reads real ones. They move:
// each presses one button after another (pad n starts n buttons later), the sticks go round with a
// radius that changes between inside and outside the dead zone every four seconds, and the
// triggers ramp up and down. With --still each pad holds one pose: pad n presses the n-th button
// of the list below, its left stick at (n * 3000, 9000 upwards) and its right stick at (-20000, 0)
// (the fourth pad: both sticks at corners of their range, the widest texts), triggers at
// 64 * (n + 1) and 255 - 64 * n, for pictures that stay.
// Once a second the motor speeds the pads received are printed, so the rumble test can be followed.
// Closing the window ends the program.
#include "controller/GamePadTest.h"
#include "controller/SdlContext.h"
#include "controller/XInputPads.h"
#include "tests/controller/VirtualPad.h"
#include "ui/PaintManager.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr SDL_GameControllerButton kButtons[] = {
    SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,          SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,         SDL_CONTROLLER_BUTTON_DPAD_UP,    SDL_CONTROLLER_BUTTON_DPAD_DOWN,
    SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_CONTROLLER_BUTTON_START,
    SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_LEFTSTICK,  SDL_CONTROLLER_BUTTON_RIGHTSTICK,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
};
constexpr int kButtonCount = static_cast<int>(sizeof(kButtons) / sizeof(kButtons[0]));
constexpr int kStepMs = 50;

void Pose(VirtualPad& pad, int n)
{
    for (int b = 0; b < kButtonCount; ++b)
        pad.SetButton(kButtons[b], b == n % kButtonCount);
    // The fourth pad shows the widest texts: both sticks at the corners of their range.
    const bool corners = n == 3;
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTX, corners ? -32768 : n * 3000);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, corners ? 32767 : -9000); // SDL's Y grows downwards
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, corners ? -32768 : -20000);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTY, corners ? -32768 : 0);
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 64 * (n + 1));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 255 - 64 * n);
}

void Move(VirtualPad& pad, int n, long step)
{
    const int pressed = static_cast<int>((step / 10 + n) % kButtonCount);
    for (int b = 0; b < kButtonCount; ++b)
        pad.SetButton(kButtons[b], b == pressed);
    const double angle = static_cast<double>(step) * 0.08 + n;
    const double radius = (step / 80) % 2 == 0 ? 6000.0 : 30000.0; // inside, then outside the dead zone
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTX, static_cast<int>(radius * std::cos(angle)));
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, static_cast<int>(radius * std::sin(angle)));
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, static_cast<int>(radius * std::cos(-angle)));
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTY, static_cast<int>(radius * std::sin(-angle)));
    const int ramp = static_cast<int>((step * 5 + n * 60) % 510);
    const int value = ramp <= 255 ? ramp : 510 - ramp;
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, value);
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 255 - value);
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2;
    bool still = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--still") == 0) {
            still = true;
            continue;
        }
        char* end = nullptr;
        const long value = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || value < 1 || value > 5) {
            std::fprintf(stderr, "usage: quokka-padview [PADS 1..5] [--still]\n");
            return 2;
        }
        count = static_cast<int>(value);
    }

    UiLib::CPaintManagerUI::SetInstance(nullptr);
    int result = 0;
    {
        CSdlContext sdl;
        if (!sdl.Ok()) {
            std::fprintf(stderr, "quokka-padview: SDL's joystick subsystems did not start\n");
            return 1;
        }
        std::vector<std::unique_ptr<VirtualPad>> pads;
        for (int n = 0; n < count; ++n) {
            const std::string name = "virtual pad " + std::to_string(n + 1);
            pads.push_back(std::make_unique<VirtualPad>(name.c_str()));
            if (!pads.back()->Attached()) {
                std::fprintf(stderr, "quokka-padview: no virtual pad: %s\n", SDL_GetError());
                return 1;
            }
        }

        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        std::thread driver([&] {
            long step = 0;
            std::unique_lock lock(mutex);
            while (!stop) {
                for (int n = 0; n < count; ++n) {
                    if (still)
                        Pose(*pads[n], n);
                    else
                        Move(*pads[n], n, step);
                }
                if (step % (1000 / kStepMs) == 0) {
                    for (int n = 0; n < count; ++n) {
                        const auto [low, high] = pads[n]->Motors().Last();
                        std::printf("pad %d motors: left %d, right %d\n", n + 1, low, high);
                    }
                    std::fflush(stdout);
                }
                ++step;
                wake.wait_for(lock, std::chrono::milliseconds(kStepMs), [&] { return stop; });
            }
        });

        result = CGamePadTest::Show(nullptr);

        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_all();
        driver.join();
        for (int n = 0; n < count; ++n) {
            const auto [low, high] = pads[n]->Motors().Last();
            std::printf("pad %d motors after closing: left %d, right %d\n", n + 1, low, high);
        }
        pads.clear();
        CXInputPads::Instance().Shutdown();
    }
    UiLib::CPaintManagerUI::Term();
    return result >= 0 ? 0 : 1;
}
