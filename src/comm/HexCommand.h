#pragma once
// Sending a command given as hex text: the one way every command leaves the
// program, on the run port and on the setup page's test port.
#include <cstddef>
#include <string>
#include <string_view>

#include "base/StatusBar.h"
#include "comm/MyComm32.h"

namespace ristova::comm {

inline constexpr std::size_t kMaxCommandBytes = 256;
inline constexpr std::string_view kSentPrefix = "发送数据:";
inline constexpr std::string_view kReceivedPrefix = "接收数据:";
// Panel 3 for a command that is refused because it is too long.
inline constexpr std::string_view kCommandTooLong = "指令超过256字节,未发送";

// Converts with HexToBytes and queues the bytes on the port (a closed port
// drops them). Returns the hex text of the bytes queued. A command of more
// than 256 bytes is refused: nothing is queued, the result is empty and
// *refused (when given) is set.
std::string SendHexCommand(TMyComport& port, std::string_view hexText, bool* refused = nullptr);

// SendHexCommand, then panel 3: "发送数据:" + the text sent, or the refusal.
// Returns the text sent.
std::string SendAndShowCommand(TMyComport& port, std::string_view hexText, StatusBar& status);

}  // namespace ristova::comm
