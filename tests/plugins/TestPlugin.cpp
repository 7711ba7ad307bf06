// Decoder plug-ins with faults, for the tests. One source, one variant per
// target (TEST_PLUGIN_* defined by tests/CMakeLists.txt).
#include <string>

#include "ristova/state_plugin.h"

namespace {
std::string lastText;
}

#if defined(TEST_PLUGIN_NULL)
// Both exports answer null.
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return nullptr;
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char*, int32_t) {
    return nullptr;
}

#elif defined(TEST_PLUGIN_DESCRIPTION_ONLY)
// No decoder: answers are never decoded.
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return "only a description";
}

#elif defined(TEST_PLUGIN_DECODER_ONLY)
// No description; every block reads as relay 1 on.
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char*, int32_t) {
    return "1";
}

#elif defined(TEST_PLUGIN_ECHO)
// The block itself is the state text, so a test sees exactly what was
// passed; the description is code page 936 ("回显" in GBK).
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return "\xBB\xD8\xCF\xD4";
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char* data,
                                                                  int32_t count) {
    lastText.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    return lastText.c_str();
}

#elif defined(TEST_PLUGIN_LONG)
// Far more characters than any controller has relays.
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return "long";
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char*, int32_t) {
    lastText.assign(40, '1');
    return lastText.c_str();
}

#else
#error "no TEST_PLUGIN_* variant"
#endif
