// ristova-decoder-host: loads one decoder plug-in and answers the engine's
// calls of it over its standard input and output, one call at a time, so
// that a plug-in that hangs or crashes costs this process, not the engine.
//
//     ristova-decoder-host LIBRARY
//
// It says Ready, loads the library, says what it found, then answers each
// Describe and Decode with the plug-in's text until the engine closes the
// channel.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "HostPlatform.h"
#include "base/SharedLibrary.h"
#include "controller/DecoderProtocol.h"
#include "ristova/state_plugin.h"

namespace {

using ristova::SharedLibrary;
using ristova::controller::DecoderFrame;
using ristova::controller::DecoderFrameReader;
using ristova::controller::DecoderLoadReport;
using ristova::controller::EncodeDecoderFrame;
using ristova::decoder_host::CopyPluginText;
using ristova::decoder_host::HostChannel;

// The decoders of 32-bit Windows use the callee-cleans convention
// (RISTOVA_PLUGIN_CALL) and may be exported under their decorated names only.
using DescriptionFn = RistovaGetDeviceDescriptionFn;
using DecodeFn = RistovaGetJDQStateFn;

// argBytes: what the callee removes from the stack, part of the decorated
// names that MSVC ("_Name@8") and MinGW ("Name@8") give 32-bit exports.
void* LookUp(const SharedLibrary& library, const char* name, [[maybe_unused]] int argBytes) {
    void* symbol = library.Symbol(name);
#ifdef _WIN32
    const std::string decorated = std::string(name) + "@" + std::to_string(argBytes);
    if (symbol == nullptr) symbol = library.Symbol(("_" + decorated).c_str());
    if (symbol == nullptr) symbol = library.Symbol(decorated.c_str());
#endif
    return symbol;
}

bool Send(HostChannel& channel, DecoderFrame kind, std::string_view payload) {
    return channel.WriteAll(EncodeDecoderFrame(kind, payload));
}

}  // namespace

int main(int argc, char** argv) {
    ristova::decoder_host::IgnoreStopSignals();
    if (argc != 2) {
        std::fputs("usage: ristova-decoder-host LIBRARY\n", stderr);
        return 2;
    }
    HostChannel channel;
    if (!channel.Open()) {
        std::fputs("ristova-decoder-host: no channel to the engine\n", stderr);
        return 2;
    }
    const char version = static_cast<char>(ristova::controller::kDecoderProtocolVersion);
    if (!Send(channel, DecoderFrame::Ready, std::string_view(&version, 1))) return 1;

    SharedLibrary library;
    DecoderLoadReport report;
    DescriptionFn describe = nullptr;
    DecodeFn decode = nullptr;
    report.loaded = library.Open(argv[1]);
    if (report.loaded) {
        describe = reinterpret_cast<DescriptionFn>(
            LookUp(library, RISTOVA_DEVICE_DESCRIPTION_SYMBOL, 0));
        decode =
            reinterpret_cast<DecodeFn>(LookUp(library, RISTOVA_JDQ_STATE_SYMBOL, 8));
        report.hasDescription = describe != nullptr;
        report.hasDecoder = decode != nullptr;
    } else {
        report.error = library.LastError();
    }
    if (!Send(channel, DecoderFrame::Loaded, EncodeLoadReport(report)) || !report.loaded) return 0;

    DecoderFrameReader reader;
    for (;;) {
        DecoderFrame kind{};
        std::string payload;
        const DecoderFrameReader::Result next = reader.Next(kind, payload);
        if (next == DecoderFrameReader::Result::Invalid) {
            std::fputs("ristova-decoder-host: a frame too long\n", stderr);
            return 1;
        }
        if (next == DecoderFrameReader::Result::Incomplete) {
            char buffer[8192];
            const std::size_t n = channel.Read(buffer, sizeof buffer);
            if (n == 0) return 0;
            reader.Add(std::string_view(buffer, n));
            continue;
        }
        const char* text = nullptr;
        if (kind == DecoderFrame::Describe) {
            if (describe) text = describe();
        } else if (kind == DecoderFrame::Decode) {
            if (decode)
                text = decode(reinterpret_cast<const unsigned char*>(payload.data()),
                              static_cast<std::int32_t>(payload.size()));
        } else {
            std::fputs("ristova-decoder-host: an unknown frame\n", stderr);
            return 1;
        }
        const std::string copied = CopyPluginText(text, ristova::controller::kMaxDecoderText);
        if (!Send(channel, DecoderFrame::Text, copied)) return 0;
    }
}
