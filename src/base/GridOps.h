#pragma once
// The shared grid operations: filling, numbering, sorting, searching, row
// texts, text files of row texts, and the column-fitting rules.
#include <string>
#include <string_view>
#include <vector>

#include "base/StringGrid.h"

namespace ristova {

inline constexpr std::string_view kCellSeparator = "^^";

void ClearGrid(StringGrid& grid);
void SetGridTitles(StringGrid& grid, const std::vector<std::string>& titles);
void NumberGridRows(StringGrid& grid, int col, int first, char ch, int width);
void AddGridRow(StringGrid& grid);
void DeleteGridRow(StringGrid& grid, int r);
void SwapGridRows(StringGrid& grid, int a, int b);
// Makes (col, row) the current cell when it is a cell that can be selected
// (not fixed, inside the grid); false, changing nothing, otherwise.
bool SelectGridCell(StringGrid& grid, int col, int row);
void SortGridByColumn(StringGrid& grid, int col, int l, int r);
void SortGridGroups(StringGrid& grid, int keyCol, int subCol, int first, int last);
int FindGridRow(const StringGrid& grid, int colA, int colB, int firstRow, std::string_view textA,
                std::string_view textB);
std::string GridRowToText(const StringGrid& grid, int r);
void TextToGridRow(std::string_view text, StringGrid& grid, int r);
int CountCells(std::string_view text);
// Refuses, with an OperatorError naming the cell, a grid that the row
// format cannot hold: it has no escape, so a cell with "^^" in it or with
// "^" at its end would read back cut in other places.
void CheckGridStorable(const StringGrid& grid);
// Writes body rows as code page 936 lines ending in CR LF, atomically;
// CheckGridStorable first.
void SaveGridToTextFile(const StringGrid& grid, const std::string& fileName);
void LoadGridFromTextFile(StringGrid& grid, const std::string& fileName);
// Column col takes the width left by the others, and by the vertical
// scroll bar while it is shown.
void StretchGridColumn(StringGrid& grid, int col);
// StretchGridColumn(col), then columns col - 1 and col share their summed
// width, the left one taking half rounded down.
void StretchAndShareColumns(StringGrid& grid, int col);
void FitPlanGridColumns(StringGrid& grid);
void FitDeviceGridColumns(StringGrid& grid);

}  // namespace ristova
