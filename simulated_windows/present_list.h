// Which devices were present on the machine a registry came from. The registry does not tell:
// presence belongs to the PnP manager, so the customer's machine writes a list, and the replay
// reads it: PowerShell's `Get-PnpDevice -PresentOnly | Export-Csv` or `wmic path Win32_PnPEntity
// get PNPDeviceID /format:csv`.
#pragma once

#include "simulated_windows/refused_input.h"

#include <string>
#include <string_view>
#include <unordered_set>

namespace simulated_windows {

// Instance IDs, upper-cased as Windows compares them.
using PresentDevices = std::unordered_set<std::u16string>;

// Reads such a CSV: UTF-16 or UTF-8 with a byte-order mark (or plain ASCII), an optional "#TYPE"
// line before the header, quoted fields, and an InstanceId or a PNPDeviceID column. Throws
// RefusedInput ("<file>: <reason>") when neither column is there.
PresentDevices ReadPresentDevices(std::string_view csvBytes, const std::string& fileName);

std::u16string InstanceIdKey(std::u16string_view instanceId);

} // namespace simulated_windows
