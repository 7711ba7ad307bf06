#include "controller/DecoderProtocol.h"

namespace ristova::controller {

namespace {
constexpr std::size_t kHeaderBytes = 5;
}

std::string EncodeDecoderFrame(DecoderFrame kind, std::string_view payload) {
    std::string frame;
    frame.reserve(kHeaderBytes + payload.size());
    frame.push_back(static_cast<char>(kind));
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<char>(size >> shift));
    frame.append(payload);
    return frame;
}

std::string EncodeLoadReport(const DecoderLoadReport& report) {
    std::string payload;
    payload.push_back(report.loaded ? '1' : '0');
    payload.push_back(report.hasDescription ? '1' : '0');
    payload.push_back(report.hasDecoder ? '1' : '0');
    payload.append(report.error);
    return payload;
}

bool DecodeLoadReport(std::string_view payload, DecoderLoadReport& report) {
    if (payload.size() < 3) return false;
    report.loaded = payload[0] == '1';
    report.hasDescription = payload[1] == '1';
    report.hasDecoder = payload[2] == '1';
    report.error.assign(payload.substr(3));
    return true;
}

DecoderFrameReader::Result DecoderFrameReader::Next(DecoderFrame& kind, std::string& payload) {
    if (buffer_.size() < kHeaderBytes) return Result::Incomplete;
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
        size |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffer_[1 + i])) << (8 * i);
    if (size > kMaxDecoderFrame) return Result::Invalid;
    if (buffer_.size() < kHeaderBytes + size) return Result::Incomplete;
    kind = static_cast<DecoderFrame>(buffer_[0]);
    payload.assign(buffer_, kHeaderBytes, size);
    buffer_.erase(0, kHeaderBytes + size);
    return Result::Frame;
}

}  // namespace ristova::controller
