// Failures of the program are exceptions that carry an English message text.
// Every error class of Vantrel derives from vantrel::Error.
#pragma once

#include <stdexcept>
#include <string>

namespace vantrel {

class Error : public std::runtime_error {
public:
    // The message is UTF-8 text.
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vantrel
