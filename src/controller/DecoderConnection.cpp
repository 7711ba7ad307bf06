#include "controller/DecoderConnection.h"

#include <chrono>
#include <cstdint>
#include <fstream>

#include "base/Files.h"

namespace ristova::controller {

std::string DecoderHostProgram() {
    return ExecutableFolder() + kDecoderHostName + std::string(kProgramSuffix);
}

#ifdef _WIN32
namespace {

// The machine a Windows library is built for, from its PE header; 0 when
// the file is none.
std::uint16_t PeMachine(const std::string& path) {
    std::ifstream file(FsPath(path), std::ios::binary);
    unsigned char dos[64] = {};
    if (!file.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    std::uint32_t peAt = 0;
    for (int i = 3; i >= 0; --i) peAt = peAt << 8 | dos[60 + i];
    unsigned char pe[6] = {};
    if (!file.seekg(peAt) || !file.read(reinterpret_cast<char*>(pe), sizeof pe) ||
        std::string_view(reinterpret_cast<char*>(pe), 4) != std::string_view("PE\0\0", 4))
        return 0;
    return static_cast<std::uint16_t>(pe[4] | (pe[5] << 8));
}

}  // namespace
#endif

std::string DecoderHostFor(const std::string& hostProgram,
                           [[maybe_unused]] const std::string& library) {
#ifdef _WIN32
    constexpr std::uint16_t kI386 = 0x014c;
    if (PeMachine(library) == kI386) {
        const std::string_view suffix = kProgramSuffix;
        std::string base = hostProgram;
        if (base.ends_with(suffix)) base.resize(base.size() - suffix.size());
        return base + "32" + std::string(suffix);
    }
#endif
    return hostProgram;
}

DecoderConnection::Outcome DecoderConnection::Failed(std::string what) {
    process_.Kill();
    reader_.Clear();
    return Outcome{false, false, std::move(what)};
}

DecoderConnection::Outcome DecoderConnection::Failed(HelperProcess::Io io,
                                                     const std::string& late) {
    switch (io) {
        case HelperProcess::Io::Stopped:
            Failed(std::string());
            return Outcome{false, true, {}};
        case HelperProcess::Io::Ended:
            // Collected first, so that its own end is told, not our kill.
            process_.Kill();
            return Failed("ended: " + process_.EndText());
        default:
            return Failed(late);
    }
}

DecoderConnection::Outcome DecoderConnection::Receive(DecoderFrame expected, std::string& payload,
                                                      int timeoutMs, NativeHandle stop,
                                                      const std::string& late) {
    using Io = HelperProcess::Io;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DecoderFrame kind{};
        switch (reader_.Next(kind, payload)) {
            case DecoderFrameReader::Result::Frame:
                if (kind != expected) return Failed("answered out of turn");
                return Outcome{true, false, {}};
            case DecoderFrameReader::Result::Invalid:
                return Failed("answered a frame too long");
            case DecoderFrameReader::Result::Incomplete:
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        std::string bytes;
        const Io io = left > 0 ? process_.Read(bytes, static_cast<int>(left), stop) : Io::TimedOut;
        if (io != Io::Done) return Failed(io, late);
        reader_.Add(bytes);
    }
}

DecoderConnection::Outcome DecoderConnection::Spawn(const std::string& library) {
    process_.Kill();
    reader_.Clear();
    report_ = DecoderLoadReport{};
    const std::string host = DecoderHostFor(hostProgram_, library);
    if (!process_.Start({host, library}))
        return Failed("the decoder host " + host + " did not start: " + process_.Error());
    return Outcome{true, false, {}};
}

DecoderConnection::Outcome DecoderConnection::AwaitLoad(NativeHandle stop) {
    std::string payload;
    Outcome out = Receive(
        DecoderFrame::Ready, payload, kDecoderHostStartMs, stop,
        "the decoder host did not start within " + std::to_string(kDecoderHostStartMs) + " ms");
    if (!out.ok) return out;
    if (payload.size() != 1 || payload[0] != static_cast<char>(kDecoderProtocolVersion))
        return Failed("the decoder host speaks another protocol");
    out = Receive(DecoderFrame::Loaded, payload, kDecoderCallMs, stop,
                  "not loaded within " + std::to_string(kDecoderCallMs) + " ms");
    if (!out.ok) return out;
    if (!DecodeLoadReport(payload, report_)) return Failed("answered a garbled load report");
    // A host that did not load the library has nothing more to do.
    if (!report_.loaded) process_.Kill();
    return out;
}

DecoderConnection::Outcome DecoderConnection::Call(DecoderFrame request, std::string_view payload,
                                                   NativeHandle stop) {
    if (!process_.Started()) return Outcome{false, false, "not running"};
    using Io = HelperProcess::Io;
    const std::string late = "no answer within " + std::to_string(kDecoderCallMs) + " ms";
    // The channel takes a whole block at once; a host that does not read
    // has its answer's time run out all the same.
    const Io written = process_.Write(EncodeDecoderFrame(request, payload), kDecoderCallMs, stop);
    if (written != Io::Done) return Failed(written, late);
    std::string text;
    Outcome out = Receive(DecoderFrame::Text, text, kDecoderCallMs, stop, late);
    if (out.ok) out.text = std::move(text);
    return out;
}

}  // namespace ristova::controller
