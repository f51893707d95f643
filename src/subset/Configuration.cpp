#include "Configuration.h"

#include "CodeTables.h"
#include "DeviceIdentification.h"
#include "Latin1.h"
#include "UnitTables.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace subset {

namespace {

int InstanceCount(PageId id)
{
    switch (id) {
    case PageId::Global: return 1;
    case PageId::ModbusProcessInput: return 4;
    default: return 2;
    }
}

bool IsChannelPage(PageId id)
{
    return id == PageId::Pipe || id == PageId::Fluid || id == PageId::Transducer || id == PageId::Measuring ||
           id == PageId::Linking;
}

bool IsProtection(const Row& row) { return row.reg == ProtectionRegister || row.reg == ProtectionRegister + 1; }

bool IsLiveValue(const Page& page, const Row& row)
{
    return page.id == PageId::ModbusProcessInput && row.control == "ProcessInputValue";
}

std::string Utf8(std::string_view latin1) { return units::latin1ToUtf8(latin1); }

const Words* Other(const WordsAt& others, int reg) { return others ? others(reg) : nullptr; }

// The calculation input lists: the other calculation channel is Z in channel Y's list.
const std::array<std::string_view, 4> CalcInputsOfY = CalcInputNames('Z');
const std::array<std::string_view, 4> CalcInputsOfZ = CalcInputNames('Y');

bool IsListRow(const Row& row)
{
    return row.encoding == Encoding::Index || row.encoding == Encoding::Code32 ||
           (row.encoding == Encoding::Code && row.table != CodeTable::None);
}

// The list whose entry a list row's words name.
Names ListOf(const Slot& s, const WordsAt& others)
{
    const Row& row = *s.row;
    if (IsUnitAfterQuantity(row.control)) {
        const Words* quantity = Other(others, s.Register() - 1);
        return quantity && quantity->size() == 1 ? UnitListAfter(row.control, (*quantity)[0]) : Names{};
    }
    if (row.encoding == Encoding::Index)
        return ItemsOf(row.control);
    if (row.encoding == Encoding::Code32)
        return OutputQuantityNames;
    switch (row.table) {
    case CodeTable::Material: return MaterialNames;
    case CodeTable::Fluid: return FluidNames;
    case CodeTable::OutputChannel: return OutputChannelNames;
    case CodeTable::Linkage: return LinkageNames;
    case CodeTable::InputChannel: return InputChannelNames;
    case CodeTable::CalcInput: return s.instance == 0 ? CalcInputsOfY : CalcInputsOfZ;
    default: return {};
    }
}

// The entry's position in ListOf; -1 for a code no entry stands for.
int PositionOf(const Slot& s, const Words& w)
{
    const Row& row = *s.row;
    if (row.encoding == Encoding::Index)
        return w[0];
    if (row.encoding == Encoding::Code32) {
        // Position 0 is the list's "Not found ..." for any code it does not know.
        const int i = CurrentLoopMeasValueToIndex(DecodeU32(w));
        return i > 0 ? i : -1;
    }
    const int code = w[0];
    switch (row.table) {
    case CodeTable::Material: return MaterialValueToItemIndex(code);
    case CodeTable::Fluid: return FluidValueToItemIndex(code);
    case CodeTable::OutputChannel: return OutputChannelToItemIndex(code);
    case CodeTable::Linkage: return LinkageIDToItemIndex(code);
    case CodeTable::InputChannel: return InputChannelToItemIndex(code);
    case CodeTable::CalcInput: return CalcInputToInteger(code, s.instance == 0 ? 'Z' : 'Y');
    default: return -1;
    }
}

bool IsEntryOf(Names list, const nlohmann::json& text)
{
    for (std::string_view entry : list)
        if (text == Utf8(entry))
            return true;
    return false;
}

std::string WordsText(const Words& w)
{
    std::string t = "[";
    for (std::size_t i = 0; i < w.size(); ++i)
        t += (i ? "," : "") + std::to_string(w[i]);
    return t + "]";
}

}  // namespace

std::string InstanceName(PageId id, int instance)
{
    switch (id) {
    case PageId::Calculation: return instance == 0 ? "Y" : "Z";
    case PageId::Global: return "-";
    case PageId::CurrentLoop: return "Loop " + std::to_string(instance + 1);
    case PageId::TemperatureInput: return "T" + std::to_string(instance + 1);
    case PageId::ModbusProcessInput: return std::to_string(instance + 1);
    default: return instance == 0 ? "A" : "B";
    }
}

std::string SlotName(const Slot& s)
{
    return std::string(s.page->name) + " " + InstanceName(s.page->id, s.instance) + " " + std::string(s.row->control) +
           " (" + std::to_string(s.Register()) + ")";
}

std::optional<std::vector<Slot>> ConfigurationSlots(std::string_view channel)
{
    if (!channel.empty() && channel != "A" && channel != "B" && channel != "Y" && channel != "Z")
        return std::nullopt;
    std::vector<Slot> slots;
    for (const Page& page : Pages())
        for (int i = 0; i < InstanceCount(page.id); ++i) {
            const std::string name = InstanceName(page.id, i);
            if (!channel.empty() &&
                !((IsChannelPage(page.id) || page.id == PageId::Calculation) && name == channel))
                continue;
            for (const Row& row : page.rows)
                if (!row.readOnly && !IsProtection(row) && !IsLiveValue(page, row))
                    slots.push_back({&page, i, &row});
        }
    return slots;
}

nlohmann::json ReadableValue(const Slot& s, const Words& w, const WordsAt& others)
{
    const Row& row = *s.row;
    if (w.size() != row.count)
        return nullptr;
    if (IsListRow(row)) {
        const Names list = ListOf(s, others);
        const int position = PositionOf(s, w);
        if (position < 0 || static_cast<std::size_t>(position) >= list.size())
            return nullptr;
        return Utf8(list[static_cast<std::size_t>(position)]);
    }
    switch (row.encoding) {
    case Encoding::F32: {
        const float f = DecodeF32(w);
        if (!std::isfinite(f))
            return nullptr;
        return RoundSignificant(static_cast<double>(f), 7);
    }
    case Encoding::U32: return DecodeU32(w);
    case Encoding::Chars7: return Utf8(TransducerIntegerToType(w));
    case Encoding::Bits: {
        nlohmann::json ticked = nlohmann::json::array();
        for (const Bit& bit : BitsOf(row.control))
            if (w[0] & bit.value)
                ticked.push_back(Utf8(bit.text));
        return ticked;
    }
    default: return w[0];
    }
}

std::string ReadableUnit(const Slot& s, const WordsAt& others)
{
    const Row& row = *s.row;
    if (IsCurrentLoopScale(row.control)) {
        for (const Row& r : s.page->rows)
            if (r.encoding == Encoding::Code32) {
                const Words* code = Other(others, r.reg + InstanceOffset(s.page->id, s.instance));
                return code && code->size() == 2 ? Utf8(units::currentLoopUnitLabel(DecodeU32(*code))) : std::string();
            }
        return {};
    }
    return Utf8(UnitOf(row.control));
}

std::string ValueText(const Slot& s, const Words& w, const WordsAt& others)
{
    const nlohmann::json v = ReadableValue(s, w, others);
    if (v.is_null())
        return WordsText(w);
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_array()) {
        std::string t;
        for (const auto& text : v)
            t += (t.empty() ? "" : ", ") + text.get<std::string>();
        return t.empty() ? "none" : t;
    }
    const std::string unit = ReadableUnit(s, others);
    return v.dump() + (unit.empty() ? "" : " " + unit);
}

Identification Identify(const Perform& perform)
{
    const modbus::Outcome o = perform(modbus::Request{modbus::Op::Identify, 0, 0, {}});
    if (!o.Ok())
        throw std::runtime_error("Reading the meter's identification failed");
    const app::DeviceIdentification d = app::decodeIdentification(o.data);
    if (!d.isVortan())
        throw std::runtime_error("\"" + d.idText + "\" is not a VORTAN meter");
    return {"VORTAN", d.idText, d.serialNumber, d.firmwareVersion};
}

std::vector<Words> ReadSlots(const Perform& perform, const std::vector<Slot>& slots)
{
    std::vector<Words> words;
    words.reserve(slots.size());
    for (const Slot& s : slots) {
        const modbus::Outcome o =
            perform(modbus::Request::Read(static_cast<std::uint16_t>(s.Register()), s.row->count));
        if (!o.Ok() || o.values.size() != s.row->count)
            throw std::runtime_error("Reading " + SlotName(s) + " failed");
        words.push_back(o.values);
    }
    return words;
}

nlohmann::json BuildConfiguration(const Identification& id, const std::string& date,
                                  const std::vector<Slot>& slots, const std::vector<Words>& words)
{
    std::map<int, const Words*> byRegister;
    for (std::size_t i = 0; i < slots.size(); ++i)
        byRegister[slots[i].Register()] = &words[i];
    const WordsAt others = [&byRegister](int reg) -> const Words* {
        const auto it = byRegister.find(reg);
        return it == byRegister.end() ? nullptr : it->second;
    };
    nlohmann::json pages = nlohmann::json::array();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const Slot& s = slots[i];
        const std::string instance = InstanceName(s.page->id, s.instance);
        if (pages.empty() || pages.back()["page"] != s.page->name || pages.back()["instance"] != instance)
            pages.push_back({{"page", s.page->name}, {"instance", instance}, {"parameters", nlohmann::json::array()}});
        nlohmann::json parameter = {{"name", s.row->control}, {"register", s.Register()},
                                    {"value", ReadableValue(s, words[i], others)}};
        if (const std::string unit = ReadableUnit(s, others); !unit.empty())
            parameter["unit"] = unit;
        parameter["words"] = words[i];
        pages.back()["parameters"].push_back(std::move(parameter));
    }
    return {{"format", ConfigurationFormat},
            {"version", ConfigurationVersion},
            {"date", date},
            {"meter",
             {{"family", id.family},
              {"identification", Utf8(id.idText)},
              {"serialNumber", Utf8(id.serialNumber)},
              {"firmwareVersion", Utf8(id.firmwareVersion)}}},
            {"pages", pages}};
}

nlohmann::json ReadConfiguration(const Perform& perform, const std::vector<Slot>& slots)
{
    const Identification id = Identify(perform);
    return BuildConfiguration(id, UtcTimestamp(), slots, ReadSlots(perform, slots));
}

std::string UtcTimestamp()
{
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

const Words* Loaded::WordsOf(int reg) const
{
    for (const Entry& e : entries)
        if (e.slot.Register() == reg)
            return &e.words;
    return nullptr;
}

namespace {

// The readable form beside the words must be what the words say: a file edited by hand in its
// readable part only would otherwise restore other values than its reader believes.
void CheckReadable(const Entry& e, const nlohmann::json& parameter, const WordsAt& file)
{
    using E = std::invalid_argument;
    const Slot& s = e.slot;
    if (!parameter.contains("value"))
        throw E(SlotName(s) + ": the readable value is missing");
    const nlohmann::json& value = parameter["value"];
    if (IsListRow(*s.row) && value.is_string() && !IsEntryOf(ListOf(s, file), value))
        throw E(SlotName(s) + ": " + value.dump() + " is no entry of its list");
    if (s.row->encoding == Encoding::Bits && value.is_array())
        for (const auto& text : value) {
            bool known = false;
            for (const Bit& bit : BitsOf(s.row->control))
                known = known || text == Utf8(bit.text);
            if (!known)
                throw E(SlotName(s) + ": " + text.dump() + " is no check box of its register");
        }
    const nlohmann::json expected = ReadableValue(s, e.words, file);
    if (value != expected)
        throw E(SlotName(s) + ": the value " + value.dump() + " contradicts its words " + WordsText(e.words) + " (" +
                expected.dump() + ")");
    const std::string unit = ReadableUnit(s, file);
    const nlohmann::json written = parameter.value("unit", nlohmann::json(""));
    if (written != unit)
        throw E(SlotName(s) + ": the unit " + written.dump() + " is not " + nlohmann::json(unit).dump());
}

}  // namespace

Loaded LoadConfiguration(const nlohmann::json& file)
{
    using E = std::invalid_argument;
    if (!file.is_object() || file.value("format", "") != ConfigurationFormat)
        throw E("not a Tarnwick configuration file");
    if (!file.contains("version") || file["version"] != ConfigurationVersion)
        throw E("configuration version " + (file.contains("version") ? file["version"].dump() : "missing") +
                " is not " + std::to_string(ConfigurationVersion));
    Loaded loaded;
    const auto* meter = file.contains("meter") ? &file["meter"] : nullptr;
    if (!meter || !meter->is_object() || !meter->contains("family") || !(*meter)["family"].is_string())
        throw E("the file names no meter family");
    loaded.family = (*meter)["family"].get<std::string>();
    if (!file.contains("pages") || !file["pages"].is_array())
        throw E("the file holds no pages");
    std::set<int> seen;
    std::vector<const nlohmann::json*> parameters;
    for (const auto& p : file["pages"]) {
        if (!p.is_object() || !p.contains("page") || !p["page"].is_string() || !p.contains("instance") ||
            !p["instance"].is_string() || !p.contains("parameters") || !p["parameters"].is_array())
            throw E("a page entry is damaged");
        const std::string pageName = p["page"], instanceName = p["instance"];
        const Page* page = nullptr;
        int instance = -1;
        for (const Page& candidate : Pages())
            if (candidate.name == pageName) {
                page = &candidate;
                for (int i = 0; i < InstanceCount(candidate.id); ++i)
                    if (InstanceName(candidate.id, i) == instanceName)
                        instance = i;
            }
        if (!page)
            throw E("unknown page \"" + pageName + "\"");
        if (instance < 0)
            throw E("page " + pageName + " has no instance \"" + instanceName + "\"");
        for (const auto& q : p["parameters"]) {
            if (!q.is_object() || !q.contains("name") || !q["name"].is_string())
                throw E("a parameter of " + pageName + " " + instanceName + " is damaged");
            const std::string name = q["name"];
            const Row* row = nullptr;
            for (const Row& r : page->rows)
                if (r.control == name)
                    row = &r;
            if (row && IsLiveValue(*page, *row))
                throw E(name + " on page " + pageName + " is live process data, not part of a configuration");
            if (!row || row->readOnly || IsProtection(*row))
                throw E("unknown parameter \"" + name + "\" on page " + pageName);
            const Slot slot{page, instance, row};
            if (!q.contains("register") || !q["register"].is_number_integer() || q["register"] != slot.Register())
                throw E(SlotName(slot) + ": register does not match");
            if (!seen.insert(slot.Register()).second)
                throw E(SlotName(slot) + " appears twice");
            const auto* w = q.contains("words") ? &q["words"] : nullptr;
            if (!w || !w->is_array() || w->size() != row->count)
                throw E(SlotName(slot) + ": needs " + std::to_string(row->count) + " words");
            Words words;
            for (const auto& v : *w) {
                if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 65535)
                    throw E(SlotName(slot) + ": " + v.dump() + " is not a register word");
                words.push_back(static_cast<std::uint16_t>(v.get<int>()));
            }
            loaded.entries.push_back({slot, std::move(words)});
            parameters.push_back(&q);
        }
    }
    // A quantity and its unit go in one request: the file must hold both or neither.
    for (const Entry& e : loaded.entries) {
        const Page& page = *e.slot.page;
        for (const auto& group : WriteGroups(page)) {
            if (group.size() < 2)
                continue;
            bool any = false, all = true;
            for (const Row& r : group) {
                const bool has = seen.count(r.reg + InstanceOffset(page.id, e.slot.instance)) > 0;
                any = any || has;
                all = all && has;
            }
            if (any && !all)
                throw E(std::string(page.name) + " " + InstanceName(page.id, e.slot.instance) + ": " +
                        std::string(group.front().control) + " and " + std::string(group.back().control) +
                        " must both be in the file");
        }
    }
    const WordsAt inFile = [&loaded](int reg) { return loaded.WordsOf(reg); };
    for (std::size_t i = 0; i < loaded.entries.size(); ++i)
        CheckReadable(loaded.entries[i], *parameters[i], inFile);
    return loaded;
}

Loaded LoadConfigurationFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::invalid_argument("Cannot read " + path.string());
    nlohmann::json file;
    try {
        file = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::invalid_argument(path.string() + " is damaged: " + e.what());
    }
    try {
        return LoadConfiguration(file);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(path.string() + " refused: " + e.what());
    }
}

std::vector<Difference> Compare(const std::vector<Entry>& entries, const std::vector<Words>& meter)
{
    std::map<int, const Words*> onMeter, inFile;
    for (std::size_t i = 0; i < entries.size() && i < meter.size(); ++i) {
        onMeter[entries[i].slot.Register()] = &meter[i];
        inFile[entries[i].slot.Register()] = &entries[i].words;
    }
    auto lookup = [](const std::map<int, const Words*>& m) -> WordsAt {
        return [&m](int reg) -> const Words* {
            const auto it = m.find(reg);
            return it == m.end() ? nullptr : it->second;
        };
    };
    std::vector<Difference> differences;
    for (std::size_t i = 0; i < entries.size() && i < meter.size(); ++i)
        if (entries[i].words != meter[i]) {
            const Slot& s = entries[i].slot;
            differences.push_back({entries[i], meter[i], ValueText(s, meter[i], lookup(onMeter)),
                                   ValueText(s, entries[i].words, lookup(inFile))});
        }
    return differences;
}

std::string DifferenceText(const Difference& d)
{
    return SlotName(d.entry.slot) + ": " + d.meterText + " -> " + d.fileText;
}

Comparison CompareWithMeter(const Perform& perform, const Loaded& loaded)
{
    Comparison c;
    c.meter = Identify(perform);
    if (c.meter.family != loaded.family)
        throw std::invalid_argument("it is from a " + loaded.family + " meter, this is a " + c.meter.family);
    std::vector<Slot> slots;
    for (const Entry& e : loaded.entries)
        slots.push_back(e.slot);
    c.differences = Compare(loaded.entries, ReadSlots(perform, slots));
    const modbus::Outcome protection = perform(modbus::Request::Read(ProtectionRegister, 1));
    if (!protection.Ok() || protection.values.size() != 1)
        throw std::runtime_error("Reading the write protection (29254) failed");
    c.protectionActive = protection.values[0] == 1;
    return c;
}

modbus::Request Write::Request() const
{
    Words values;
    for (const Entry& e : rows)
        values.insert(values.end(), e.words.begin(), e.words.end());
    return modbus::Request::WriteMultiple(static_cast<std::uint16_t>(rows.front().slot.Register()), std::move(values));
}

std::vector<Write> WritePlan(const std::vector<Entry>& entries, const std::vector<Difference>& differences)
{
    std::set<int> differing;
    for (const Difference& d : differences)
        differing.insert(d.entry.slot.Register());
    std::map<int, const Entry*> byRegister;
    for (const Entry& e : entries)
        byRegister[e.slot.Register()] = &e;
    std::vector<Write> plan;
    std::set<int> planned;
    for (const Entry& e : entries) {
        if (!differing.count(e.slot.Register()) || planned.count(e.slot.Register()))
            continue;
        const Page& page = *e.slot.page;
        const int offset = InstanceOffset(page.id, e.slot.instance);
        for (const auto& group : WriteGroups(page)) {
            bool mine = false;
            for (const Row& r : group)
                mine = mine || &r == e.slot.row;
            if (!mine)
                continue;
            Write w;
            for (const Row& r : group) {
                const auto it = byRegister.find(r.reg + offset);
                if (it == byRegister.end())
                    throw std::invalid_argument(std::string(r.control) + " is missing from the file");
                w.rows.push_back(*it->second);
                planned.insert(r.reg + offset);
            }
            plan.push_back(std::move(w));
        }
    }
    return plan;
}

modbus::Request ProtectionWrite(bool enable, std::uint32_t code)
{
    return modbus::Request::WriteMultiple(ProtectionRegister, {static_cast<std::uint16_t>(enable ? 1 : 0),
                                                               static_cast<std::uint16_t>(code & 0xFFFF),
                                                               static_cast<std::uint16_t>(code >> 16)});
}

WriteReport WriteDifferences(const Perform& perform, const Loaded& loaded, const Comparison& comparison,
                             std::optional<std::uint32_t> unlockCode)
{
    WriteReport report;
    if (comparison.differences.empty())
        return report;
    const std::vector<Write> plan = WritePlan(loaded.entries, comparison.differences);
    const bool locked = comparison.protectionActive;
    if (locked && !unlockCode)
        throw std::invalid_argument("the meter's write protection is active: its code is needed");
    auto send = [&](const modbus::Request& r) {
        const modbus::Outcome o = perform(r);
        report.aborted = report.aborted || o.aborted;
        return o;
    };
    if (locked) {
        send(ProtectionWrite(false, *unlockCode));
        const modbus::Outcome after = send(modbus::Request::Read(ProtectionRegister, 1));
        if (report.aborted)
            return report;
        if (!after.Ok() || after.values != Words{0}) {
            report.unlockRefused = true;
            return report;
        }
    }
    const WordsAt inFile = [&loaded](int reg) { return loaded.WordsOf(reg); };
    for (const Write& w : plan) {
        const modbus::Outcome written = send(w.Request());
        if (report.aborted)
            return report;
        ++report.requests;
        for (const Entry& e : w.rows) {
            const modbus::Outcome back =
                send(modbus::Request::Read(static_cast<std::uint16_t>(e.slot.Register()), e.slot.row->count));
            if (report.aborted)
                return report;
            if (!written.Ok() || !back.Ok() || back.values != e.words)
                report.failures.push_back("Did not take: " + SlotName(e.slot) + ": " +
                                          (back.Ok() ? ValueText(e.slot, back.values, inFile) : "no answer") +
                                          " -> " + ValueText(e.slot, e.words, inFile));
        }
    }
    // Leave the meter protected as it was found.
    if (locked) {
        send(ProtectionWrite(true, *unlockCode));
        const modbus::Outcome after = send(modbus::Request::Read(ProtectionRegister, 1));
        if (!report.aborted && (!after.Ok() || after.values != Words{1}))
            report.failures.push_back("The write protection could not be switched on again");
    }
    return report;
}

}  // namespace subset
