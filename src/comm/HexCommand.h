#pragma once
// Sending a command given as hex text: the one way every command leaves the
// program, on the run port and on the setup page's test port.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/StatusBar.h"
#include "comm/MyComm32.h"

namespace ristova::comm {

inline constexpr std::size_t kMaxCommandBytes = 256;
inline constexpr std::string_view kSentPrefix = "发送数据:";
inline constexpr std::string_view kReceivedPrefix = "接收数据:";
// Panel 3 for a command that is refused because it is too long.
inline constexpr std::string_view kCommandTooLong = "指令超过256字节,未发送";
// Panel 3 for a command text with a character that is no hex digit (+ the text).
inline constexpr std::string_view kCommandInvalidPrefix = "指令含非十六进制字符,未发送:";
// Panel 3 for bytes the port did not take (closed or lost; + the hex).
inline constexpr std::string_view kSendFailedPrefix = "发送失败:";
// Panel 3 for bytes refused because the writer's queue is full (+ the hex).
inline constexpr std::string_view kQueueFullPrefix = "发送队列已满,未发送:";

enum class SendResult { Sent, Invalid, TooLong, Failed, QueueFull };

struct SendOutcome {
    SendResult result = SendResult::Sent;
    // The bytes as upper-case hex pairs; the text as given when invalid.
    std::string hex;
};

// A command as stored (hex text), read into bytes once: every send of it
// takes the bytes, and a text that is no hex is known as such up front.
struct Command {
    std::string text;
    std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: no hex text

    static Command FromText(std::string_view hexText);
    bool Empty() const { return bytes && bytes->empty(); }
    // Upper-case hex pairs of the bytes, or the text itself when invalid.
    std::string Hex() const;
};

// True when the text is a command that can be sent (see HexToBytes).
bool IsHexCommand(std::string_view hexText);
// The command's bytes as hex pairs, or the text itself when it is invalid.
std::string CommandHexText(std::string_view hexText);

// Converts with HexToBytes and queues the bytes on the port. An invalid
// text or one of more than 256 bytes is refused and nothing is queued.
// Sent means queued; onDone then hears whether the bytes were written.
SendOutcome SendHexCommand(TMyComport& port, std::string_view hexText,
                           SendDoneHandler onDone = nullptr);

// The same for a command read before: nothing is parsed again. options give
// its place in the writer's queue.
SendOutcome SendCommand(TMyComport& port, const Command& command, SendDoneHandler onDone = nullptr,
                        SendOptions options = {});

// The panel 3 text of an outcome.
std::string OutcomeText(const SendOutcome& outcome);

// SendHexCommand, then panel 3 shows OutcomeText.
SendOutcome SendAndShowCommand(TMyComport& port, std::string_view hexText, StatusBar& status,
                               SendDoneHandler onDone = nullptr);

}  // namespace ristova::comm
