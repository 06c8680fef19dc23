#pragma once

// Holds SDL's joystick and game controller subsystems for as long as the object lives (never SDL's
// video). Objects may nest and overlap on any thread: SDL counts the initialisations, and the last
// one to go shuts the subsystems down. The pad poller, the gamepad test and controller detection each
// hold one while they work.
//
// Pads are read whichever window has the focus (an emulator's, usually), so background events are
// switched on before the subsystems start.
class CSdlContext {
public:
    CSdlContext();
    ~CSdlContext();
    CSdlContext(const CSdlContext&) = delete;
    CSdlContext& operator=(const CSdlContext&) = delete;

    // Whether the subsystems started; when they did not, no pads can be seen.
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};
