#include "base/Errors.h"

namespace ristova {

void ThrowUnableToWrite(const std::string& path) {
    throw OperatorError("Unable to write to " + path);
}

void ThrowNotAnInteger(const std::string& text) {
    throw OperatorError("'" + text + "' is not a valid integer value");
}

}  // namespace ristova
