// On Windows a pipe tells how much its reader's side can still take (its
// write quota); a console, a file or the null device takes a line at once.
#include "base/StreamReady.h"

#include <io.h>
#include <windows.h>
#include <winternl.h>

namespace ristova {

namespace {

// FILE_PIPE_LOCAL_INFORMATION of the driver headers.
struct PipeLocalInformation {
    ULONG namedPipeType, namedPipeConfiguration, maximumInstances, currentInstances, inboundQuota,
        readDataAvailable, outboundQuota, writeQuotaAvailable, namedPipeState, namedPipeEnd;
};

using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

}  // namespace

bool StreamTakesLineNow(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return true;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_PIPE) return true;
    static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    if (query == nullptr) return true;
    IO_STATUS_BLOCK status{};
    PipeLocalInformation info{};
    if (query(h, &status, &info, sizeof info, static_cast<FILE_INFORMATION_CLASS>(24)) < 0)
        return true;  // not asked: as before this check, the line goes out
    // A pipe whose reader keeps up has its whole quota free; one page is enough.
    return info.writeQuotaAvailable >= 4096 || info.writeQuotaAvailable == info.outboundQuota;
}

}  // namespace ristova
