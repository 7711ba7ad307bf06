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

// A write that the file system refused; the old file is left whole.
class WriteRefused : public OperatorError {
  public:
    explicit WriteRefused(const std::string& path);
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// "Unable to write to %s"
[[noreturn]] void ThrowUnableToWrite(const std::string& path);
// "'%s' is not a valid integer value"
[[noreturn]] void ThrowNotAnInteger(const std::string& text);

// A read-only folder refuses every keystroke's write: the operator is told
// once per file, until a write to that file goes through again.
// True when this refusal of the file is the first since then.
bool FirstRefusalOf(const std::string& path);
// A write to the file went through; its next refusal is told again.
void WriteWentThrough(const std::string& path);

}  // namespace ristova
