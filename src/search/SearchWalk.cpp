#include "SearchWalk.h"

#include "MBParameter.h"

#include <algorithm>

namespace search {

namespace {

std::vector<std::string> Range(const std::string& chosen, auto const& texts)
{
    if (!chosen.empty() && chosen != "-")
        return {chosen};
    std::vector<std::string> all;
    for (size_t i = 1; i < texts.size(); ++i)
        all.emplace_back(texts[i]);
    return all;
}

void AppendPort(std::vector<TCombination>& out, const std::string& port, const TSearchChoice& c)
{
    const int first = c.address == 0 ? 1 : c.address;
    const int last = c.address == 0 ? 247 : c.address;
    const auto bauds = Range(c.baudText, BaudTexts);
    const auto parities = Range(c.parityText, ParityTexts);
    for (int address = first; address <= last; ++address)
        for (const auto& b : bauds)
            for (const auto& p : parities)
                out.push_back({port, address, b, p, BaudOfText(b), ParityOfText(p)});
}

}  // namespace

std::vector<TCombination> Combinations(const TSearchChoice& choice)
{
    std::vector<TCombination> out;
    for (const auto& port : choice.ports)
        AppendPort(out, port, choice);
    return out;
}

std::vector<std::vector<TCombination>> CombinationsPerPort(const TSearchChoice& choice)
{
    std::vector<std::vector<TCombination>> out;
    for (const auto& port : choice.ports) {
        out.emplace_back();
        AppendPort(out.back(), port, choice);
    }
    return out;
}

int ProgressPosition(size_t done, size_t total)
{
    if (total == 0)
        return 0;
    // Summed as the bar is advanced, so the rounding matches step by step.
    const double step = 100.0 / static_cast<double>(total);
    double sum = 0;
    for (size_t i = 0; i < done; ++i)
        sum += step;
    // sum is never negative: adding a half rounds it as lround would, without libm.
    return std::clamp(static_cast<int>(sum + 0.5), 0, 100);
}

uint32_t WireTimeUs(uint32_t bytes, uint32_t baud, modbus::TParityScheme parity)
{
    if (baud == 0)
        return 0;
    const uint64_t bitsPerChar = 1 + 8 + (parity == modbus::psNone ? 0 : 1) + 1;
    return static_cast<uint32_t>((uint64_t{bytes} * bitsPerChar * 1000000 + baud - 1) / baud);
}

uint32_t QuickProbeTimeoutMs(uint32_t baud, modbus::TParityScheme parity)
{
    constexpr uint32_t probeAndReplyBytes = 8 + 8;
    const uint32_t wireMs = (WireTimeUs(probeAndReplyBytes, baud, parity) + 999) / 1000;
    return std::max(QuickFloorMs, wireMs + QuickTurnaroundMarginMs);
}

uint32_t ProbeTimeoutMs(const TCombination& c, bool quick)
{
    return quick ? QuickProbeTimeoutMs(modbus::BaudRateValue(c.baud), c.parity) : SearchReceiveTimeoutMs;
}

uint64_t RemainingMs(const std::vector<TCombination>& list, size_t next, bool quick)
{
    uint64_t ms = 0;
    for (size_t i = next; i < list.size(); ++i)
        ms += ProbeTimeoutMs(list[i], quick);
    return ms;
}

bool IsVortanIdentification(const std::vector<uint8_t>& data)
{
    const auto end = std::find_if(data.begin(), data.end(), [](uint8_t b) { return b == 0x00 || b == 0xFF; });
    return std::string(data.begin(), end).find("VORTAN") != std::string::npos;
}

}  // namespace search
