#include "base/Errors.h"

#include <mutex>
#include <set>

namespace ristova {

namespace {
// Files whose refusal the operator was told of. Writes may come from more
// than one thread (the bridge, the journal's poster).
std::mutex toldMutex;
std::set<std::string>& Told() {
    static std::set<std::string> told;
    return told;
}
}  // namespace

WriteRefused::WriteRefused(const std::string& path)
    : OperatorError("Unable to write to " + path), path_(path) {}

void ThrowUnableToWrite(const std::string& path) {
    throw WriteRefused(path);
}

void ThrowNotAnInteger(const std::string& text) {
    throw OperatorError("'" + text + "' is not a valid integer value");
}

bool FirstRefusalOf(const std::string& path) {
    const std::lock_guard<std::mutex> lock(toldMutex);
    return Told().insert(path).second;
}

void WriteWentThrough(const std::string& path) {
    const std::lock_guard<std::mutex> lock(toldMutex);
    Told().erase(path);
}

}  // namespace ristova
