#include "controller/SdlContext.h"

#include "platform/Trace.h"

#include <SDL.h>

namespace {
constexpr Uint32 kSubsystems = SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER;
}

CSdlContext::CSdlContext()
{
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would otherwise take SIGINT and SIGTERM over (as a quit event nobody reads here), and a
    // process reading pads could no longer be ended by them; the program handles them itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    m_ok = SDL_InitSubSystem(kSubsystems) == 0;
    if (!m_ok)
        platform::TraceF("SDL joystick start failed: %s", SDL_GetError());
}

CSdlContext::~CSdlContext()
{
    if (m_ok)
        SDL_QuitSubSystem(kSubsystems);
}
