#include "app/StopSignal.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"

#include <atomic>
#include <csignal>

namespace vistrel {

namespace {

std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onStopSignal(int)
{
    stopFlag.store(true);
}

}  // namespace

void installSignalHandlers()
{
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool stopRequested()
{
    return stopFlag.load();
}

void requestStop()
{
    stopFlag.store(true);
}

bool stopArrived(bool& stopped)
{
    stopped = stopped || stopRequested();
    return stopped;
}

void logStopped()
{
    Logger::instance().warn(std::string(kStoppedBySignal));
}

}  // namespace vistrel
