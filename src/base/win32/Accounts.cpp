#include "base/win32/Accounts.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/win32/Wide.h"

namespace ristova::win32 {

std::vector<unsigned char> CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    Handle held(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<unsigned char> copy(::GetLengthSid(sid));
    if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) return {};
    return copy;
}

bool IsTrustedAccount(PSID sid) {
    static const std::vector<unsigned char> self = CurrentUserSid();
    return (!self.empty() && ::EqualSid(sid, const_cast<unsigned char*>(self.data()))) ||
           ::IsWellKnownSid(sid, WinLocalSystemSid) ||
           ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// Allowing entries (plain or with a condition) that let an account read the
// data or change the list; deny entries only ever take access away.
FileAccess AccessOf(const std::string& path) {
    FileAccess access;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(WidePath(path).c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return access;
    access.known = true;
    access.trustedOwner = owner && IsTrustedAccount(owner);
    const auto add = [&](PSID sid) {
        LPWSTR text = nullptr;
        if (!::ConvertSidToStringSidW(sid, &text)) return access.otherReaders.push_back(L"?");
        access.otherReaders.emplace_back(text);
        ::LocalFree(text);
    };
    if (dacl == nullptr) {
        // No list at all: everyone.
        ::LocalFree(descriptor);
        access.otherReaders.push_back(L"S-1-1-0");
        return access;
    }
    constexpr DWORD kReadOrRule =
        FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const BYTE type = ace->Header.AceType;
        // A conditional entry has the same layout up to its account.
        if ((type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) ||
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0 || (ace->Mask & kReadOrRule) == 0)
            continue;
        const PSID sid = const_cast<DWORD*>(&ace->SidStart);
        if (!IsTrustedAccount(sid) && !(owner && ::EqualSid(sid, owner))) add(sid);
    }
    ::LocalFree(descriptor);
    return access;
}

}  // namespace ristova::win32
