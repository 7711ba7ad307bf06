// Decoder plug-ins with faults, for the tests. One source, one variant per
// target (TEST_PLUGIN_* defined by tests/CMakeLists.txt).
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

// The exports named by a .def file alone, as MSVC builds name them.
#ifdef TEST_PLUGIN_DEF_EXPORTS
#define RISTOVA_PLUGIN_EXPORT extern "C"
#endif
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

#elif defined(TEST_PLUGIN_SLEEPY)
// Every call sleeps for good: only a kill ends it.
[[noreturn]] static void SleepForGood() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    SleepForGood();
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char*, int32_t) {
    SleepForGood();
}

#elif defined(TEST_PLUGIN_CRASHY)
// A block that begins with "crash" ends the process as a fault does; others
// are echoed.
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return "crashy";
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char* data,
                                                                  int32_t count) {
    lastText.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    if (lastText.starts_with("crash")) std::raise(SIGSEGV);
    return lastText.c_str();
}

#elif defined(TEST_PLUGIN_UNTERMINATED)
// Texts without their terminator, right before memory that cannot be read.
static const char* Unterminated(const char* text) {
    static char* page = nullptr;
#ifdef _WIN32
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const std::size_t size = info.dwPageSize;
    if (page == nullptr) {
        page = static_cast<char*>(
            VirtualAlloc(nullptr, 2 * size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(page + size, size, PAGE_NOACCESS, &old);
    }
#else
    const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (page == nullptr) {
        void* both =
            mmap(nullptr, 2 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        page = static_cast<char*>(both);
        mprotect(page + size, size, PROT_NONE);
    }
#endif
    const std::size_t n = std::strlen(text);
    std::memcpy(page + size - n, text, n);
    return page + size - n;
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    return Unterminated("unterminated");
}
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char*, int32_t) {
    return Unterminated("101");
}

#else
#error "no TEST_PLUGIN_* variant"
#endif
