#pragma once
// The status bar's four panel texts. ShowStatus is the one way to write it;
// the window only renders the texts.
#include <array>
#include <cstdint>
#include <string>

namespace ristova {

class StatusBar {
public:
    static constexpr int kPanelCount = 4;
    // Panel 2 is 14 pixels wider than 182, so that the welcome text (192
    // pixels in a 12-pixel song face) is not cut inside the panel's frame.
    static constexpr std::array<int, kPanelCount> kPanelWidths{80, 60, 196, 50};

    StatusBar();
    // Panel text := " " + text; an index beyond the last panel is ignored.
    void ShowStatus(int panel, const std::string& text);
    const std::string& Panel(int panel) const;
    std::uint64_t Revision() const { return revision_; }

private:
    std::array<std::string, kPanelCount> panels_;
    std::uint64_t revision_ = 0;
};

}  // namespace ristova
