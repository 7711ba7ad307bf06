// The platform's part of the broker settings on POSIX: the host name and
// a file's permission bits.
#include "remote/MqttSettings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace ristova::remote {

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

bool FilePermissions(const std::string& path, unsigned& bits) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    bits = static_cast<unsigned>(st.st_mode & 07777);
    return true;
}

}  // namespace ristova::remote
