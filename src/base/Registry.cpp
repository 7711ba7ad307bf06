#include "base/Registry.h"

#include "base/TextUtils.h"

namespace ristova {

namespace {

// Only the Run key holds values, and only names that can be file names.
bool IsRunValue(std::string_view key, std::string_view name) {
    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return AsciiIEquals(key, kRunKey) && !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\r\n\0", 4)) == std::string_view::npos;
}

}  // namespace

bool WriteRegistryText(RegistryRoot root, std::string_view key, std::string_view name,
                       std::string_view value) {
    return IsRunValue(key, name) && WriteRunValue(root, name, value);
}

void DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name) {
    if (IsRunValue(key, name)) DeleteRunValue(root, name);
}

bool RegistryTextEquals(RegistryRoot root, std::string_view key, std::string_view name,
                        std::string_view expected) {
    const std::string value = IsRunValue(key, name) ? ReadRunValue(root, name) : std::string();
    return AsciiUpper(value) == AsciiUpper(expected);
}

}  // namespace ristova
