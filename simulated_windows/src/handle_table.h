// The objects behind handles of one kind, as the Windows functions hand them out.
#pragma once

#include "simulated_windows/win32_api.h"

#include <cstddef>
#include <map>
#include <utility>

namespace simulated_windows {

// Handles are multiples of four, as Windows gives them, and never reused, so that a stale handle
// is caught rather than landing on a newer object. Tables share one sequence, so that a handle
// of one kind is never valid as another.
template <typename T> class HandleTable {
  public:
    explicit HandleTable(ULONG_PTR& sequence) : sequence_(&sequence) {}

    ULONG_PTR Add(T object)
    {
        *sequence_ += 4;
        objects_.emplace(*sequence_, std::move(object));
        return *sequence_;
    }
    T* Find(ULONG_PTR handle)
    {
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : &found->second;
    }
    bool Remove(ULONG_PTR handle) { return objects_.erase(handle) != 0; }
    // Removes every object; the sequence goes on.
    void Clear() { objects_.clear(); }
    std::size_t Size() const { return objects_.size(); }

  private:
    ULONG_PTR* sequence_;
    std::map<ULONG_PTR, T> objects_;
};

} // namespace simulated_windows
