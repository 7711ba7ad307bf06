#include "run/Monitor.h"

#include <string>
#include <vector>

#include "base/GridOps.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"

namespace ristova::run {

namespace {

const std::vector<std::string>& MonitorTitles() {
    static const std::vector<std::string> titles = {"继电器", "继电器状态", "常开触点状态",
                                                    "常闭触点状态"};
    return titles;
}

// Length in bytes of the UTF-8 character that starts with this byte; a
// stray continuation byte counts as one character.
std::size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

void SetupMonitorGrid(StringGrid& sgState) {
    sgState.SetColCount(4);
    if (sgState.RowCount() < 2) sgState.SetRowCount(2);
    sgState.SetFixedCols(0);
    sgState.SetFixedRows(1);
    const int widths[] = {40, 64, 136, 162};
    for (int c = 0; c < 4; ++c) sgState.SetColWidth(c, widths[c]);
    sgState.SetDefaultRowHeight(29);
    sgState.SetShowsVScrollBar(false);
    // The left column of the page is 423 wide inside a 4-pixel border.
    sgState.SetWidth(415);
}

int MonitorRelayCount(const StringGrid& sgState) {
    return sgState.RowCount() > 1 ? sgState.RowCount() - 1 : 0;
}

void BuildMonitorGrid(const StringGrid& sgPower, StringGrid& sgState) {
    sgState.EmptyStoredRows(1);
    sgState.SetColCount(4);
    sgState.SetRowCount(sgPower.RowCount() < 2 ? 2 : sgPower.RowCount());
    for (int r = 1; r < sgState.RowCount(); ++r) {
        sgState.SetCell(2, r, sgPower.Cell(3, r));
        sgState.SetCell(3, r, sgPower.Cell(4, r));
    }
    SetGridTitles(sgState, MonitorTitles());
    NumberGridRows(sgState, 0, 1, ' ', 4);
    FitMonitorColumns(sgState);
    sgState.Touch();
}

bool ShowRelayStates(StringGrid& sgState, std::string_view text) {
    const int relays = MonitorRelayCount(sgState);
    bool changed = false;
    std::size_t at = 0;
    for (int r = 1; r <= relays && at < text.size(); ++r) {
        std::size_t length = Utf8Length(static_cast<unsigned char>(text[at]));
        std::string state(text.substr(at, length));
        at += length;
        if (sgState.Cell(1, r) != state) {
            sgState.SetCell(1, r, std::move(state));
            changed = true;
        }
    }
    if (changed) sgState.Touch();
    return changed;
}

void FitMonitorColumns(StringGrid& sgState) {
    StretchAndShareColumns(sgState, 3);
}

MonitorPicture CellPicture(const StringGrid& sgState, int col, int row) {
    if (row < 1 || col == 0) return MonitorPicture::Text;
    const std::string& state = sgState.Cell(1, row);
    switch (col) {
        case 1:
            return state == "1" ? MonitorPicture::RelayOn : MonitorPicture::RelayOff;
        case 2:
        case 3: {
            if (sgState.Cell(col, row) == controller::kNoContact)
                return MonitorPicture::ContactAbsent;
            // The normally-closed contact is closed while the relay is off.
            const char* closedWhen = col == 2 ? "1" : "0";
            return state == closedWhen ? MonitorPicture::ContactClosed
                                       : MonitorPicture::ContactOpen;
        }
        default:
            return MonitorPicture::Text;
    }
}

}  // namespace ristova::run
