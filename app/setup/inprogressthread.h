// The progress window shown while the payload is unpacked and the cleanup runs, and while
// the driver installer works interactively: modeless dialog 101 on a thread of its own.
#pragma once
#include "sys/libutils/win32/thread.h"

#include <windows.h>
#include <atomic>

namespace ts { namespace app { namespace setupInstall {

class InProgressThread : public sys::Thread {
public:
    InProgressThread();
    // Stops the thread.
    ~InProgressThread() override;

    // Shows the window on the new thread; false when the thread could not be started.
    bool start() { return Thread::start(); }
    // Closes the window and waits for the thread to end. Returns at once when the thread
    // was never started; also ends the thread when the user closed the window first.
    void stop();

    // The progress dialog of this process; null when none exists.
    static HWND window();

protected:
    uint32_t run() override;

private:
    std::atomic<bool> m_stop{false};
};

// Where a window of size `width` x `height` goes to be centred on `desktop`.
POINT centredOrigin(const RECT& desktop, int width, int height);

}}} // namespace ts::app::setupInstall
