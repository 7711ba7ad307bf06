// The helper on Windows: CreateProcessW with one end of a duplex named pipe
// as its standard input and output; our end is overlapped, so that every
// wait is bounded and the stop event can cut it short. Every helper is put
// in one job that ends its processes when this process ends, however it ends.
#include "base/HelperProcess.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "base/win32/Wide.h"

namespace ristova {

namespace {

using Io = HelperProcess::Io;

// Closed by the system when this process ends, which kills what is in it.
HANDLE HelperJob() {
    static const HANDLE job = [] {
        HANDLE j = ::CreateJobObjectW(nullptr, nullptr);
        if (j == nullptr) return j;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return j;
    }();
    return job;
}

// A command line that the runtime's parser splits back into these words.
std::wstring QuoteArgument(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// Waits for an overlapped transfer; on time-out or stop it is cancelled and
// its end collected, so that the buffer is free again.
Io Finish(HANDLE channel, OVERLAPPED& overlapped, DWORD& moved, int timeoutMs, NativeHandle stop) {
    HANDLE waits[2] = {overlapped.hEvent, stop};
    const DWORD count = stop == kNoHandle ? 1 : 2;
    const DWORD r = ::WaitForMultipleObjects(count, waits, FALSE,
                                             timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    Io outcome = Io::Done;
    if (r == WAIT_OBJECT_0 + 1)
        outcome = Io::Stopped;
    else if (r == WAIT_TIMEOUT)
        outcome = Io::TimedOut;
    else if (r != WAIT_OBJECT_0)
        outcome = Io::Ended;
    if (outcome != Io::Done) ::CancelIoEx(channel, &overlapped);
    const BOOL ok = ::GetOverlappedResult(channel, &overlapped, &moved, TRUE);
    if (outcome == Io::Done && !ok) return Io::Ended;
    // A transfer that completed while it was being cancelled counts.
    if (outcome != Io::Done && ok && moved > 0) return Io::Done;
    return outcome;
}

std::string ExitText(DWORD code) {
    // The codes of an unhandled exception (0xC0000005 and its kind).
    if ((code & 0xF0000000u) == 0xC0000000u) {
        char text[48];
        std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code));
        return text;
    }
    return "exit status " + std::to_string(code);
}

}  // namespace

bool HelperProcess::Spawn(const std::vector<std::string>& argv) {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\ristova-helper-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial.fetch_add(1));
    win32::Handle ours(::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536,
        65536, 0, nullptr));
    if (!ours.Valid()) {
        error_ = win32::ErrorText(::GetLastError());
        return false;
    }
    // Only the helper's end is inheritable, and only for the spawn.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    win32::Handle theirs(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit,
                                       OPEN_EXISTING, 0, nullptr));
    if (!theirs.Valid()) {
        error_ = win32::ErrorText(::GetLastError());
        return false;
    }
    win32::Handle errors;
    if (HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        err != nullptr && err != INVALID_HANDLE_VALUE) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), err, ::GetCurrentProcess(), &copy, 0, TRUE,
                              DUPLICATE_SAME_ACCESS))
            errors.Reset(copy);
    }
    std::wstring commandLine;
    for (const std::string& word : argv)
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(win32::Widen(word));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = theirs.Get();
    startup.hStdOutput = theirs.Get();
    startup.hStdError = errors.Get();
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so that not even its first
    // instruction runs outside it.
    if (!::CreateProcessW(win32::WidePath(argv[0]).c_str(), commandLine.data(), nullptr, nullptr,
                          TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &info)) {
        error_ = win32::ErrorText(::GetLastError());
        return false;
    }
    if (HANDLE job = HelperJob(); job != nullptr) ::AssignProcessToJobObject(job, info.hProcess);
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    channel_ = ours.Release();
    return true;
}

HelperProcess::Io HelperProcess::Write(std::string_view bytes, int timeoutMs, NativeHandle stop) {
    if (channel_ == kNoHandle) return Io::Ended;
    const DWORD start = ::GetTickCount();
    win32::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    while (!bytes.empty()) {
        const int left = timeoutMs - static_cast<int>(::GetTickCount() - start);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        ::ResetEvent(event.Get());
        DWORD written = 0;
        if (!::WriteFile(channel_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                         &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return Io::Ended;
        const Io io = Finish(channel_, overlapped, written, left, stop);
        if (io != Io::Done) return io;
        if (written == 0) return Io::Ended;
        bytes.remove_prefix(written);
    }
    return Io::Done;
}

HelperProcess::Io HelperProcess::Read(std::string& into, int timeoutMs, NativeHandle stop) {
    if (channel_ == kNoHandle) return Io::Ended;
    win32::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    char buffer[16384];
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    DWORD got = 0;
    if (!::ReadFile(channel_, buffer, sizeof buffer, nullptr, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING)
        return Io::Ended;  // ERROR_BROKEN_PIPE: the helper closed its end
    const Io io = Finish(channel_, overlapped, got, timeoutMs, stop);
    if (io != Io::Done) return io;
    if (got == 0) return Io::Ended;
    into.append(buffer, got);
    return Io::Done;
}

void HelperProcess::Kill() {
    if (channel_ != kNoHandle) ::CloseHandle(channel_);
    channel_ = kNoHandle;
    if (process_ == kNoHandle) return;
    // One that ended by itself keeps its own exit code.
    if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        ::TerminateProcess(process_, 1);
        ::WaitForSingleObject(process_, INFINITE);
    }
    DWORD code = 0;
    endText_ = ::GetExitCodeProcess(process_, &code) ? ExitText(code) : "ended";
    ::CloseHandle(process_);
    process_ = kNoHandle;
}

}  // namespace ristova
