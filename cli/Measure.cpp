#include "Measure.h"

#include "Latin1.h"
#include "MBMasterUnitIDs.h"
#include "MeasuredValue.h"
#include "RegisterFormulas.h"
#include "UnitTables.h"

#include <algorithm>
#include <cctype>

namespace cli {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

std::optional<MeasureTarget> ParseMeasureTarget(const std::string& channel, const std::string& quantity,
                                                std::string& error)
{
    MeasureTarget t;
    const auto& names = units::ChannelNames;
    const auto ch = std::find_if(names.begin(), names.end(),
                                 [&](std::string_view n) { return Lower(std::string(n)) == Lower(channel); });
    if (ch == names.end()) {
        error = "CHANNEL: '" + channel + "' is not one of A, B, C, D, Z, Y";
        return std::nullopt;
    }
    t.channel = static_cast<int>(ch - names.begin());

    t.quantity = -1;
    size_t used = 0;
    try {
        const int q = std::stoi(quantity, &used);
        if (used == quantity.size())
            t.quantity = q;
    } catch (...) {
    }
    if (used != quantity.size() || quantity.empty()) {
        for (int q = 0; q < units::QuantityCount; ++q)
            if (Lower(units::latin1ToUtf8(units::quantityName(q))) == Lower(quantity))
                t.quantity = q;
    }
    const auto address = units::measuredValueBlockAddress(t.channel, t.quantity);
    if (t.quantity < 0 || t.quantity >= units::QuantityCount || !address) {
        error = "QUANTITY: '" + quantity + "' is neither a quantity name nor a position from 0 to 45";
        return std::nullopt;
    }
    t.address = *address;
    return t;
}

void DecodeMeasurement(const MeasureTarget& target, Outcome& o)
{
    o.op = "measure";
    Measurement m;
    m.channel = std::string(units::ChannelNames[static_cast<size_t>(target.channel)]);
    m.quantity = units::latin1ToUtf8(units::quantityName(target.quantity));
    if (o.status == modbus::trSuccess) {
        if (const auto block = app::decodeMeasuredValueBlock(o.values)) {
            m.status = std::string(app::measStatusText(block->status));
            m.value = block->scaled;
            m.text = app::formatMeasuredValue(block->scaled);
            m.unitId = block->unitId;
            m.unit = units::latin1ToUtf8(block->unitText);
            m.ageSeconds = block->secondsSinceUpdate;
            m.valid = block->status == app::MeasStatus::Ok;
        }
    }
    o.measurement = m;
}

}  // namespace cli
