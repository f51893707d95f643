#pragma once

// The report of a search: a fixed-width table of the devices found, 57 characters a line, as a
// text file (CR LF) or as printed lines.

#include "FoundDevices.h"

#include <string>
#include <vector>

namespace search {

inline constexpr const char* ReportTitle = "                  FOUND MODBUS DEVICES                   ";
inline constexpr const char* ReportRule = "---------------------------------------------------------";
inline constexpr const char* ReportVortanBox = "|                    VORTAN Devices                     |";
inline constexpr const char* ReportOtherBox = "|                     Other Devices                     |";
inline constexpr const char* ReportHeader = "| Slave-Addr | BaudRate | Parity | DataBits | StopBits  |";
inline constexpr const char* PrintMargin = "                ";

std::string ReportRow(int addr, const std::string& baudText, const std::string& parityText);

// The saved file's lines, without line ends.
std::vector<std::string> SavedReportLines(const std::vector<TVortan_Device>& vortan,
                                          const std::vector<TOther_Device>& other);
// The printed lines, margin included. `bold` marks the title's line.
struct PrintedLine {
    std::string text;
    bool bold = false;
};
std::vector<PrintedLine> PrintedReportLines(const std::vector<TVortan_Device>& vortan,
                                            const std::vector<TOther_Device>& other);

// The file a chosen name is saved to: ".txt" added unless the name already ends in it (any case).
std::string ReportFileName(const std::string& chosen);

// Writes the lines with CR LF; an empty result on success, else the reason.
std::string WriteReportFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace search
