// Builds saved SYSTEM hives for the tests: no hive made elsewhere is checked in.
#pragma once

#include "simulated_windows/registry.h"

#include <cstdint>
#include <string>

namespace hive_builder {

// The bytes of an empty hive of our own making: a base block with its checksum, one hive bin, a
// root key with its security cell and free space behind them. hivex opens it and can add to it.
std::string EmptyHive();

// Writes, at `path`, a SYSTEM hive that holds what `machine` holds below
// HKEY_LOCAL_MACHINE\SYSTEM, with CurrentControlSet stored as ControlSet00<controlSet> and Select\Current
// naming it, as `reg save` would save that machine. Throws std::runtime_error when hivex fails.
void WriteSystemHive(const std::string& path, const simulated_windows::Registry& machine,
                     std::uint32_t controlSet = 1);

} // namespace hive_builder
