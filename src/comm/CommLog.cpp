#include "comm/CommLog.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "base/Codec.h"
#include "comm/MyComm32.h"

namespace ristova {
namespace {

// One lock for name and file, so that lines from several threads stay whole
// and a line never goes to a file that is being replaced.
struct LogState {
    std::mutex mutex;
    std::string name;
    std::FILE* file = nullptr;
    ~LogState() {
        if (file) std::fclose(file);
    }
};

LogState& State() {
    static LogState state;
    return state;
}

std::string TimeOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace

namespace commlog {

void SetName(const std::string& name) {
    std::lock_guard lock(State().mutex);
    State().name = name;
}

std::string Name() {
    std::lock_guard lock(State().mutex);
    return State().name;
}

void Create(const std::string& name) {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.file) std::fclose(state.file);
    state.file = std::fopen(name.c_str(), "wb");
}

void Close() {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.file) std::fclose(state.file);
    state.file = nullptr;
}

}  // namespace commlog

void WriteCommLog(const std::string& text) {
    LogState& state = State();
    {
        std::lock_guard lock(state.mutex);
        if (state.name.empty() || !state.file) return;
    }
    // Convert outside the lock; the line itself goes out in one write.
    std::string line = codec::ToCodePage(text);
    line += "\r\n";
    std::lock_guard lock(state.mutex);
    if (state.name.empty() || !state.file) return;
    std::fwrite(line.data(), 1, line.size(), state.file);
    // Flushed per line so that the log is complete up to a crash.
    std::fflush(state.file);
}

void WriteCommLogTimed(const std::string& text) {
    WriteCommLog(TimeOfDay() + text);
}

}  // namespace ristova
