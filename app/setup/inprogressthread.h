// The progress window shown while the payload is unpacked and the cleanup runs.
#pragma once

namespace ts { namespace app { namespace setupInstall {

// Not shown yet: start and stop do nothing.
class InProgressThread {
public:
    InProgressThread() = default;
    ~InProgressThread() { stop(); }
    InProgressThread(const InProgressThread&) = delete;
    InProgressThread& operator=(const InProgressThread&) = delete;
    void start() {}
    // Closes the window and waits for the thread; returns at once when never started.
    void stop() {}
};

}}} // namespace ts::app::setupInstall
