#include "SearchReport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace search {

std::string ReportRow(int addr, const std::string& baudText, const std::string& parityText)
{
    std::string row = "|";
    row += addr >= 1 && addr <= 9 ? "     " : addr >= 10 && addr <= 99 ? "    " : "   ";
    row += std::to_string(addr) + "      |";
    const size_t baudPad = baudText.size() == 3 ? 4 : baudText.size() == 4 ? 3 : baudText.size() == 5 ? 2 : 1;
    row += std::string(baudPad, ' ') + baudText + "   |";
    row += std::string(parityText.size() == 3 ? 3 : 2, ' ') + parityText + "  ";
    row += "|    8     |     1     |";
    return row;
}

namespace {

template <typename Emit>
void Sections(const std::vector<TVortan_Device>& vortan, const std::vector<TOther_Device>& other,
              int gapLines, Emit&& emit)
{
    auto head = [&](const char* box) {
        emit(ReportRule);
        emit(box);
        emit(ReportRule);
        emit(ReportHeader);
        emit(ReportRule);
    };
    head(ReportVortanBox);
    for (const auto& d : vortan) {
        emit(ReportRow(d.Addr, d.BaudRateText, d.ParityText));
        emit(ReportRule);
    }
    for (int i = 0; i < gapLines; ++i)
        emit("");
    head(ReportOtherBox);
    for (const auto& d : other) {
        emit(ReportRow(d.Addr, d.BaudRateText, d.ParityText));
        emit(ReportRule);
    }
}

}  // namespace

std::vector<std::string> SavedReportLines(const std::vector<TVortan_Device>& vortan,
                                          const std::vector<TOther_Device>& other)
{
    std::vector<std::string> lines = {ReportTitle, "", ""};
    Sections(vortan, other, 4, [&](const std::string& l) { lines.push_back(l); });
    return lines;
}

std::vector<PrintedLine> PrintedReportLines(const std::vector<TVortan_Device>& vortan,
                                            const std::vector<TOther_Device>& other)
{
    std::vector<PrintedLine> lines = {{""}, {""}, {""}, {std::string(PrintMargin) + ReportTitle, true}, {""}, {""}};
    Sections(vortan, other, 3, [&](const std::string& l) {
        lines.push_back({l.empty() ? l : PrintMargin + l});
    });
    return lines;
}

std::string ReportFileName(const std::string& chosen)
{
    std::string tail = chosen.size() >= 4 ? chosen.substr(chosen.size() - 4) : std::string();
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return tail == ".txt" ? chosen : chosen + ".txt";
}

std::string WriteReportFile(const std::string& path, const std::vector<std::string>& lines)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return std::strerror(errno);
    std::string error;
    for (const auto& l : lines) {
        if (std::fputs(l.c_str(), f) < 0 || std::fputs("\r\n", f) < 0) {
            error = std::strerror(errno);
            break;
        }
    }
    if (std::fflush(f) != 0 && error.empty())
        error = std::strerror(errno);
    if (std::fclose(f) != 0 && error.empty())
        error = std::strerror(errno);
    return error;
}

}  // namespace search
