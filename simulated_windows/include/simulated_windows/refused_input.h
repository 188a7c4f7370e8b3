// An input the platform refuses: a registry file, a hive, a presence list or a setting. The run
// stops before the program writes anything, with what() on standard error and exit status 2.
#pragma once

#include <stdexcept>
#include <string>

namespace simulated_windows {

// what() is "<source>:<line>: <reason>", or "<source>: <reason>" (line 0) for a fault of the
// input as a whole, such as a file that cannot be read. The source is a file's name as the user
// gave it, or the name of a setting.
class RefusedInput : public std::runtime_error {
  public:
    RefusedInput(const std::string& source, unsigned line, const std::string& reason)
        : std::runtime_error(line == 0 ? source + ": " + reason
                                       : source + ":" + std::to_string(line) + ": " + reason),
          line_(line), reason_(reason)
    {
    }

    unsigned Line() const { return line_; }
    const std::string& Reason() const { return reason_; }

  private:
    unsigned line_;
    std::string reason_;
};

} // namespace simulated_windows
