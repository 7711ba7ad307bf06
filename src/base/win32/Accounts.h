#pragma once
// Accounts and access lists, shared by the Windows backends that keep a
// secret in a file: who runs this process, who owns a file, who may read it.
#include <windows.h>

#include <string>
#include <vector>

namespace ristova::win32 {

// The account this process runs as (a SID in a buffer); empty when unknown.
std::vector<unsigned char> CurrentUserSid();
// This account, the system or the administrators, who may take any file.
bool IsTrustedAccount(PSID sid);

struct FileAccess {
    bool known = false;        // false: the file or its access list could not be read
    bool trustedOwner = false;  // owned by a trusted account
    // Other accounts that may read it (or change who may), as SID texts.
    std::vector<std::wstring> otherReaders;
};
FileAccess AccessOf(const std::string& path);

}  // namespace ristova::win32
