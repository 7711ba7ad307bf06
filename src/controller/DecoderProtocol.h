#pragma once
// What the engine and ristova-decoder-host say to each other: frames of a
// kind byte, a little-endian 32-bit length and that many bytes. Plain C++
// with nothing of the rest of the program, so that the host builds alone for
// any platform and word size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ristova::controller {

inline constexpr std::uint8_t kDecoderProtocolVersion = 1;

enum class DecoderFrame : std::uint8_t {
    Ready = 1,     // host, first: the protocol version
    Loaded = 2,    // host, next: a DecoderLoadReport
    Describe = 3,  // engine: the description, please; answered by Text
    Decode = 4,    // engine: a block to decode; answered by Text
    Text = 5,      // host: the plug-in's text, code page 936, empty for null
};

// The longest text taken from a plug-in: one without its terminator ends
// here. No real state or description text comes near it.
inline constexpr std::size_t kMaxDecoderText = 64 * 1024;
// The longest frame either side accepts.
inline constexpr std::size_t kMaxDecoderFrame = kMaxDecoderText + 64;

struct DecoderLoadReport {
    bool loaded = false;
    bool hasDescription = false;
    bool hasDecoder = false;
    std::string error;  // the loader's reason when not loaded
};

std::string EncodeDecoderFrame(DecoderFrame kind, std::string_view payload);
std::string EncodeLoadReport(const DecoderLoadReport& report);
bool DecodeLoadReport(std::string_view payload, DecoderLoadReport& report);

// Collects received bytes and cuts them into frames.
class DecoderFrameReader {
  public:
    void Add(std::string_view bytes) { buffer_.append(bytes); }
    enum class Result { Incomplete, Frame, Invalid };
    // Takes the next whole frame. Invalid: a frame longer than any allowed;
    // the stream cannot be trusted after it.
    Result Next(DecoderFrame& kind, std::string& payload);
    void Clear() { buffer_.clear(); }

  private:
    std::string buffer_;
};

}  // namespace ristova::controller
