#include "interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void Note(int signal)
{
    caught = signal;
}

} // namespace

void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    // Restarted reads keep libav* from seeing EINTR as a broken file; the
    // frame loop looks at the flag between frames.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal()
{
    return caught;
}
