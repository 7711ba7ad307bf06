#pragma once
// The monitor grid sgState as data: one heading row and one row per relay;
// column 1 holds the relay's state character, columns 2 and 3 the uses of
// its contacts. The window draws each cell from this grid.
#include <string_view>

#include "base/StringGrid.h"

namespace ristova::run {

// Initial layout: 4 columns, widths 40, 64, 136, 162, rows 29 high, one
// fixed (heading) row, no fixed column, no scroll bars.
void SetupMonitorGrid(StringGrid& sgState);

// Rebuilds sgState from sgPower (heading + one row per relay row of
// sgPower); the state cells stay empty until the next ShowRelayStates. Ends
// with FitMonitorColumns.
void BuildMonitorGrid(const StringGrid& sgPower, StringGrid& sgState);

// Copies character r of the text (a UTF-8 character) into column 1 of row r
// for the relays the text covers; extra characters are ignored, relays
// beyond the text keep their state. True when a cell changed.
bool ShowRelayStates(StringGrid& sgState, std::string_view text);

// Column 3 fills the client width, then columns 2 and 3 share their width.
void FitMonitorColumns(StringGrid& sgState);

// Number of relay rows of the grid.
int MonitorRelayCount(const StringGrid& sgState);

// What a cell shows, as the drawing rules pick it.
enum class MonitorPicture { Text, RelayOn, RelayOff, ContactClosed, ContactOpen, ContactAbsent };
MonitorPicture CellPicture(const StringGrid& sgState, int col, int row);

}  // namespace ristova::run
