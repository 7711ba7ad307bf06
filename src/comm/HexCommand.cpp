#include "comm/HexCommand.h"

#include <vector>

#include "base/TextUtils.h"

namespace ristova::comm {

std::string SendHexCommand(TMyComport& port, std::string_view hexText, bool* refused) {
    std::vector<std::uint8_t> bytes = HexToBytes(hexText);
    if (refused != nullptr) *refused = bytes.size() > kMaxCommandBytes;
    if (bytes.size() > kMaxCommandBytes) return {};
    // Not looked at: a closed port drops the bytes and the caller still
    // shows what it meant to send.
    port.SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
    return BytesToHex(bytes);
}

std::string SendAndShowCommand(TMyComport& port, std::string_view hexText, StatusBar& status) {
    bool refused = false;
    std::string sent = SendHexCommand(port, hexText, &refused);
    status.ShowStatus(3, refused ? std::string(kCommandTooLong) : std::string(kSentPrefix) + sent);
    return sent;
}

}  // namespace ristova::comm
