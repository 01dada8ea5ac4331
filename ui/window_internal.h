// Shared between the window engine's own files; not for other layers.
#pragma once

#include <mutex>

#include "platform/winuser.h"

namespace pr::ui {

class Window;

// Guards the context registry, every context's window list and every
// window's queue.  Never held while a window procedure or the program runs.
std::mutex& EngineMutex();

// Wakes a thread that waits for messages so that it looks at its queues.
void WakeThread(DWORD threadId);

// Dialog units to cells (ceil(n / 4) across, ceil(n / 8) down).
int DialogUnitsToCellsX(int32_t units);
int DialogUnitsToCellsY(int32_t units);

// The host frame's window, null when no frame is open (ui/frame.cpp).
HWND HostFrameWindowHandle();

}  // namespace pr::ui
