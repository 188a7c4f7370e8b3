// How a loader tells its caller what it has read for good, so that the caller can give back the
// memory of a file as the import goes on (MappedFile::Release).
#pragma once

#include <cstddef>
#include <functional>

namespace simulated_windows {

// Called now and then with how many of the file's bytes the reading has passed for good.
using ImportProgress = std::function<void(std::size_t bytesDone)>;

} // namespace simulated_windows
