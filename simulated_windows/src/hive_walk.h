// The keys and values of a saved SYSTEM hive, read through hivex in time and memory bounded by
// the hive's size, whatever its cells say. Internal to the hive loader (hive_file.cpp).
#pragma once

#include "registry.h"
#include "simulated_windows/refused_input.h"

#include <hivex.h>

#include <memory>
#include <string>
#include <string_view>

namespace simulated_windows {

// Copies the keys and values of the SYSTEM hive that hivex opened from `bytes` below `system`,
// and returns the name of the control set that Select\Current names ("ControlSet001"), checked
// to be in the hive. A CurrentControlSet key stored in the hive is passed over: Windows makes that
// name a link at boot, which shadows a stored key.
//
// Every key, value and data cell is read at most once, and the values' data may add up to at most
// the file's size, which a hive that stores each value's data once never exceeds: so the registry
// built takes memory in proportion to the file, and the walk time. Throws RefusedInput
// ("<file>: <reason>") for a damaged hive or one that is not a SYSTEM hive; `system` may then hold
// part of it.
std::u16string CopySystemHive(hive_h* hive, std::string_view bytes, const std::string& fileName,
                              const std::shared_ptr<RegistryKey>& system);

} // namespace simulated_windows
