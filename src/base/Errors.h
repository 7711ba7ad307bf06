#pragma once
// The one error that reaches the operator: thrown by the core, caught at the
// window's event-handler boundary and shown as the error message box.
#include <stdexcept>
#include <string>

namespace ristova {

class OperatorError : public std::runtime_error {
public:
    explicit OperatorError(const std::string& message) : std::runtime_error(message) {}
};

// "Unable to write to %s"
[[noreturn]] void ThrowUnableToWrite(const std::string& path);
// "'%s' is not a valid integer value"
[[noreturn]] void ThrowNotAnInteger(const std::string& text);

}  // namespace ristova
