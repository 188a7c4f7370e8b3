// Which devices were present on the machine a registry came from. The registry does not tell:
// presence belongs to the PnP manager, so the customer's machine writes a list, and the replay
// reads it: PowerShell's `Get-PnpDevice -PresentOnly | Export-Csv` or `wmic path Win32_PnPEntity
// get PNPDeviceID /format:csv`.
#pragma once

#include "simulated_windows/refused_input.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simulated_windows {

// The instance IDs of a list, each held once. A device instance ID holds only characters from
// '!' to DEL and no comma, fewer than MAX_DEVICE_ID_LEN (200) of them (IRP_MN_QUERY_ID and "Device
// Instance IDs", Microsoft's driver documentation), so each is kept as one byte a character, in
// one block, and found by hashing under a key the list cannot know: a list of many short IDs
// takes little more than its own size, and time in proportion to it, whatever its IDs.
class PresentDevices {
  public:
    // Room for IDs of `bytes` characters in all, each with a terminator.
    void Reserve(std::size_t bytes) { ids_.reserve(bytes); }
    // Adds an ID of such characters, upper-cased; false when the list holds 4 GiB of IDs already.
    bool Add(std::string_view upperCaseId);
    // Whether the list holds that upper-cased ID (see InstanceIdKey).
    bool Contains(std::u16string_view upperCaseId) const;

  private:
    std::size_t Slot(std::string_view id) const;
    void Grow();

    std::string ids_;                  // each ID, then a NUL
    std::vector<std::uint32_t> slots_; // where an ID starts in ids_, plus one; 0 for a free slot
    std::size_t size_ = 0;
};

// Reads such a CSV: UTF-16 (little- or big-endian, with a byte-order mark or without, told by the
// NULs of its first character) or UTF-8 (with or without a mark, or plain ASCII), any "#TYPE" line
// and blank lines before the header, quoted fields (which may hold line breaks), and an InstanceId
// or a PNPDeviceID column, whose blanks around an ID are dropped. Reads the file once, keeping
// nothing of it but the IDs: its lines may be of any length. Throws RefusedInput ("<file>:<line>:
// <reason>", or "<file>: <reason>" for an empty list) when neither column is there, when an ID
// cannot be a device instance ID, or when a quoted field is never closed.
PresentDevices ReadPresentDevices(std::string_view csvBytes, const std::string& fileName);

std::u16string InstanceIdKey(std::u16string_view instanceId);

} // namespace simulated_windows
