#include "process_start.h"

#include "handles.h"
#include "machine.h"
#include "process_messages.h"

#include <csignal>
#include <cstdlib>

namespace simulated_windows {
namespace {

// Before main, whatever the program calls first: a setting that cannot be used stops the process
// before it starts; and since Windows has no SIGPIPE, a write to a pipe whose reader has gone
// fails and the program goes on, for every write it makes.
bool StartProcess() noexcept
{
    StartupSettings();
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}
const bool ProcessStarted = StartProcess();

} // namespace

const Settings& StartupSettings()
{
    static const Settings settings = [] {
        try {
            return ReadSettings([](const char* name) { return std::getenv(name); });
        } catch (const RefusedInput& refusal) {
            StopRefused(refusal);
        }
    }();
    return settings;
}

void ResetPlatform()
{
    ResetMachine();
    ProcessHandles().CloseAll();
    SetLastError(ERROR_SUCCESS);
}

} // namespace simulated_windows
