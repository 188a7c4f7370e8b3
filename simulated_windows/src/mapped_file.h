// A file's bytes, for the loader: a regular file is mapped rather than read, so that what has been
// imported can be given back as the import goes on, and a large export is never held whole in
// memory beside the registry built from it. Anything else (a pipe, a device) is read.
#pragma once

#include "simulated_windows/refused_input.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace simulated_windows {

class MappedFile {
  public:
    // Throws RefusedInput (line 0) when the file cannot be opened or read.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile& operator=(MappedFile&&) = delete;

    std::string_view Bytes() const { return mapped_ != nullptr ? std::string_view(mapped_, size_) : read_; }
    // Gives back the memory of the first `size` bytes; they stay readable, from the file again.
    void Release(std::size_t size) const;

  private:
    char* mapped_ = nullptr;
    std::size_t size_ = 0;
    std::string read_;
};

} // namespace simulated_windows
