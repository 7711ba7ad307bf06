#include "comm/HexCommand.h"

#include <vector>

#include "base/TextUtils.h"

namespace ristova::comm {

bool IsHexCommand(std::string_view hexText) {
    return HexToBytes(hexText).has_value();
}

std::string CommandHexText(std::string_view hexText) {
    const auto bytes = HexToBytes(hexText);
    return bytes ? BytesToHex(*bytes) : std::string(hexText);
}

Command Command::FromText(std::string_view hexText) {
    return {std::string(hexText), HexToBytes(hexText)};
}

std::string Command::Hex() const {
    return bytes ? BytesToHex(*bytes) : text;
}

SendOutcome SendCommand(TMyComport& port, const Command& command, SendDoneHandler onDone,
                        SendOptions options) {
    if (!command.bytes) return {SendResult::Invalid, command.text};
    const std::vector<std::uint8_t>& bytes = *command.bytes;
    std::string hex = BytesToHex(bytes);
    if (bytes.size() > kMaxCommandBytes) return {SendResult::TooLong, std::move(hex)};
    const SendStatus status = port.Send(bytes.data(), static_cast<std::uint16_t>(bytes.size()),
                                        std::move(onDone), options);
    const SendResult result = status == SendStatus::Queued      ? SendResult::Sent
                              : status == SendStatus::QueueFull ? SendResult::QueueFull
                                                                : SendResult::Failed;
    return {result, std::move(hex)};
}

SendOutcome SendHexCommand(TMyComport& port, std::string_view hexText, SendDoneHandler onDone) {
    return SendCommand(port, Command::FromText(hexText), std::move(onDone));
}

std::string OutcomeText(const SendOutcome& outcome) {
    switch (outcome.result) {
        case SendResult::Invalid:
            return std::string(kCommandInvalidPrefix) + outcome.hex;
        case SendResult::TooLong:
            return std::string(kCommandTooLong);
        case SendResult::Failed:
            return std::string(kSendFailedPrefix) + outcome.hex;
        case SendResult::QueueFull:
            return std::string(kQueueFullPrefix) + outcome.hex;
        case SendResult::Sent:
            break;
    }
    return std::string(kSentPrefix) + outcome.hex;
}

SendOutcome SendAndShowCommand(TMyComport& port, std::string_view hexText, StatusBar& status,
                               SendDoneHandler onDone) {
    SendOutcome outcome = SendHexCommand(port, hexText, std::move(onDone));
    status.ShowStatus(3, OutcomeText(outcome));
    return outcome;
}

}  // namespace ristova::comm
