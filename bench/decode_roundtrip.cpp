// A decode's round trip through the decoder host, with the project's own
// decoder and a state answer of 8 relays: the bare call over the channel,
// and the engine's way (queued from the main thread, the text back through
// the main-thread poster). Prints figures; not a test.
//
//     bench_decode_roundtrip [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/Files.h"
#include "base/MainThreadPoster.h"
#include "controller/DecoderConnection.h"
#include "controller/StatePlugin.h"

using namespace ristova;
using namespace ristova::controller;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view kAnswer = "S(00,10100000)E";

void Print(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    std::printf("%-40s n=%zu  median %7.1f us  p99 %7.1f us  worst %8.1f us\n", what, us.size(),
                us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    const std::string folder = ExecutableFolder() + "PowerDll/";
    const std::string library = folder + "SimRelay.so";

    DecoderConnection host(DecoderHostProgram());
    const auto started = Clock::now();
    const DecoderConnection::Outcome start = host.Start(library);
    if (!start.ok || !host.Report().loaded) {
        std::fprintf(stderr, "the host did not load %s: %s%s\n", library.c_str(),
                     start.text.c_str(), host.Report().error.c_str());
        return 1;
    }
    std::printf("host start and load: %.1f ms\n", Us(Clock::now() - started) / 1000);
    std::vector<double> bare;
    for (int i = 0; i < calls; ++i) {
        const auto t0 = Clock::now();
        const DecoderConnection::Outcome out = host.Call(DecoderFrame::Decode, kAnswer);
        bare.push_back(Us(Clock::now() - t0));
        if (!out.ok || out.text != "10100000") {
            std::fprintf(stderr, "call %d: %s\n", i, out.ok ? out.text.c_str() : "failed");
            return 1;
        }
    }
    Print("bare call over the channel", bare);

    PumpedPoster poster;
    StatePlugin plugin(poster);
    bool known = false;
    StatePlugin::Handlers handlers;
    handlers.changed = [&] { known = true; };
    plugin.SetHandlers(std::move(handlers));
    if (!plugin.LoadStatePlugin(folder, "SimRelay.so") ||
        !poster.PumpUntil([&] { return known; }, 10000)) {
        std::fprintf(stderr, "the plug-in did not load\n");
        return 1;
    }
    std::vector<double> engine;
    for (int i = 0; i < calls; ++i) {
        std::optional<std::string> text;
        const auto t0 = Clock::now();
        plugin.DecodeStates(
            [](const StatePlugin::DecodeCall& decode) {
                return decode(kAnswer.data(), kAnswer.size());
            },
            [&](std::string t) { text = std::move(t); });
        poster.PumpUntil([&] { return text.has_value(); }, 10000);
        engine.push_back(Us(Clock::now() - t0));
        if (text != "10100000") {
            std::fprintf(stderr, "decode %d: %s\n", i, text ? text->c_str() : "no answer");
            return 1;
        }
    }
    Print("queued, answered through the poster", engine);
    return 0;
}
