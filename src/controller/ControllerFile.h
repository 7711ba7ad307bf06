#pragma once
// A controller definition file ("*.PSW" in the program folder): serial
// parameters, relay count, the command table and the description.
#include <string>
#include <string_view>
#include <vector>

#include "base/StringGrid.h"

namespace ristova::controller {

inline constexpr std::string_view kMarker = "Quelmar电源控制文件";
inline constexpr std::string_view kDescriptionSeparator = "╋";
inline constexpr std::string_view kStartOnMark = " √";
inline constexpr std::string_view kStartOffMark = " X";
inline constexpr std::string_view kNoContact = "不存在";

// Sections and keys.
inline constexpr std::string_view kLoad = "LOAD";
inline constexpr std::string_view kComm = "COMM";
inline constexpr std::string_view kCommand = "COMMAND";
inline constexpr std::string_view kDescript = "DESCRIPT";
inline constexpr std::string_view kFlag = "FLAG";
inline constexpr std::string_view kPowerDllFn = "sPowerDllFn";
inline constexpr std::string_view kComChl = "spComChl";
inline constexpr std::string_view kStateCmd = "edStateCmd";
inline constexpr std::string_view kPortRead = "COMM1";   // every reader asks for this
inline constexpr std::string_view kPortWrite = "Comm1";  // the setup page writes this
inline constexpr std::string_view kBound = "edBound";
inline constexpr std::string_view kTimeOut = "edTimeOut";
inline constexpr std::string_view kByteSize = "ByteSize";
inline constexpr std::string_view kStopBits = "StopBits";
inline constexpr std::string_view kParity = "Parity";
inline constexpr std::string_view kSpecif = "SPECIF";

// Titles of the six columns of the command table.
const std::vector<std::string>& CommandTableTitles();

// Writes the marker; this one write creates the file.
void CreateControllerFile(const std::string& path);
std::string ReadKey(const std::string& path, std::string_view section, std::string_view key);
void WriteKey(const std::string& path, std::string_view section, std::string_view key,
              std::string_view value);

// Clears the grid (hidden rows too), reads Row0, Row1, ... until the first
// missing or empty key, then six columns, the titles and relay numbers 1..n
// padded to four characters. The caller decides the shown relay rows.
void ReadCommandTable(const std::string& path, StringGrid& grid);
// Erases [COMMAND], writes every shown row (titles included) as Row<i>, then
// the description lines joined with "╋".
void WriteCommandTableAndDescription(const std::string& path, const StringGrid& grid,
                                     const std::vector<std::string>& descriptionLines);
std::vector<std::string> ReadDescription(const std::string& path);

void DeleteControllerFile(const std::string& path);

// A name that can only be a file directly in the program folder (no "..",
// no separator), short enough for the plan folder and the temporary name
// of an atomic write.
bool IsSafeControllerName(std::string_view name);

// Why the file cannot drive a run: it lacks the marker (it is no controller
// file, or a damaged one), or it has no command table with a relay row.
// Empty when it can.
std::string UnusableControllerReason(const std::string& path);

}  // namespace ristova::controller
