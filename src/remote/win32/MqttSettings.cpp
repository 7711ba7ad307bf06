// The platform's part of the broker settings on Windows. Who may read a file
// is its access list, not mode bits; the password file lives in the user's
// own data folder, whose inherited list admits only that user and the
// administrators. A readable file therefore counts as the owner's alone.
#include "remote/MqttSettings.h"

#include "base/win32/Wide.h"

namespace ristova::remote {

bool FilePermissions(const std::string& path, unsigned& bits) {
    const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    bits = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0400u : 0600u;
    return true;
}

}  // namespace ristova::remote
