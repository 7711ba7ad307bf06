// The platform's part of the broker settings on POSIX: a file's permission
// bits.
#include "remote/MqttSettings.h"

#include <sys/stat.h>

namespace ristova::remote {

bool FilePermissions(const std::string& path, unsigned& bits) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    bits = static_cast<unsigned>(st.st_mode & 07777);
    return true;
}

}  // namespace ristova::remote
