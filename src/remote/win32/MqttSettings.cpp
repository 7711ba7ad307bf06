// The platform's part of the broker settings on Windows. Who may read a file
// is its access list, not mode bits: a list that lets other accounts read
// the password file counts as mode 0644, one that does not as 0600 (0400
// when the file is read-only).
#include "remote/MqttSettings.h"

#include "base/Files.h"
#include "base/win32/Wide.h"

namespace ristova::remote {

bool FilePermissions(const std::string& path, unsigned& bits) {
    const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    bits = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0400u : 0600u;
    if (OthersMayRead(path)) bits |= 0044u;
    return true;
}

}  // namespace ristova::remote
