#include "Configuration.h"

#include "CodeTables.h"

#include <cmath>
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

std::string Where(const Slot& s)
{
    return std::string(s.page->name) + " " + InstanceName(s.page->id, s.instance) + " " + std::string(s.row->control) +
           " (" + std::to_string(s.Register()) + ")";
}

template <std::size_t N>
nlohmann::json ListText(const std::array<std::string_view, N>& names, int position)
{
    if (position < 0 || static_cast<std::size_t>(position) >= N)
        return nullptr;
    return std::string(names[static_cast<std::size_t>(position)]);
}

std::string WordsText(const Words& w)
{
    std::string t = "[";
    for (std::size_t i = 0; i < w.size(); ++i)
        t += (i ? "," : "") + std::to_string(w[i]);
    return t + "]";
}

std::string ValueText(const Slot& s, const Words& w)
{
    const nlohmann::json v = ReadableValue(s, w);
    if (v.is_null())
        return WordsText(w);
    return v.is_string() ? v.get<std::string>() : v.dump();
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
                if (!row.readOnly && !IsProtection(row))
                    slots.push_back({&page, i, &row});
        }
    return slots;
}

nlohmann::json ReadableValue(const Slot& s, const Words& w)
{
    const Row& row = *s.row;
    if (w.size() != row.count)
        return nullptr;
    switch (row.encoding) {
    case Encoding::F32: {
        const float f = DecodeF32(w);
        if (!std::isfinite(f))
            return nullptr;
        return RoundSignificant(static_cast<double>(f), 7);
    }
    case Encoding::U32: return DecodeU32(w);
    case Encoding::Chars7: return TransducerIntegerToType(w);
    case Encoding::Code32: {
        const int i = CurrentLoopMeasValueToIndex(DecodeU32(w));
        return i > 0 ? ListText(OutputQuantityNames, i) : nlohmann::json(nullptr);
    }
    case Encoding::Code: {
        const int code = w[0];
        switch (row.table) {
        case CodeTable::Material: return ListText(MaterialNames, MaterialValueToItemIndex(code));
        case CodeTable::Fluid: return ListText(FluidNames, FluidValueToItemIndex(code));
        case CodeTable::OutputChannel: return ListText(OutputChannelNames, OutputChannelToItemIndex(code));
        case CodeTable::Linkage: return ListText(LinkageNames, LinkageIDToItemIndex(code));
        case CodeTable::InputChannel: return ListText(InputChannelNames, InputChannelToItemIndex(code));
        case CodeTable::CalcInput: {
            const char other = s.instance == 0 ? 'Z' : 'Y';
            return ListText(CalcInputNames(other), CalcInputToInteger(code, other));
        }
        default: return code;
        }
    }
    case Encoding::Index:
    case Encoding::U16:
    case Encoding::Bits: return w[0];
    }
    return nullptr;
}

std::vector<Words> ReadSlots(const Perform& perform, const std::vector<Slot>& slots)
{
    std::vector<Words> words;
    words.reserve(slots.size());
    for (const Slot& s : slots) {
        const modbus::Outcome o =
            perform(modbus::Request::Read(static_cast<std::uint16_t>(s.Register()), s.row->count));
        if (!o.Ok() || o.values.size() != s.row->count)
            throw std::runtime_error("Reading " + Where(s) + " failed");
        words.push_back(o.values);
    }
    return words;
}

nlohmann::json BuildConfiguration(const Identification& id, const std::string& date,
                                  const std::vector<Slot>& slots, const std::vector<Words>& words)
{
    nlohmann::json pages = nlohmann::json::array();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const Slot& s = slots[i];
        const std::string instance = InstanceName(s.page->id, s.instance);
        if (pages.empty() || pages.back()["page"] != s.page->name || pages.back()["instance"] != instance)
            pages.push_back({{"page", s.page->name}, {"instance", instance}, {"parameters", nlohmann::json::array()}});
        pages.back()["parameters"].push_back({{"name", s.row->control},
                                              {"register", s.Register()},
                                              {"value", ReadableValue(s, words[i])},
                                              {"words", words[i]}});
    }
    return {{"format", ConfigurationFormat},
            {"version", ConfigurationVersion},
            {"date", date},
            {"meter",
             {{"family", id.family},
              {"identification", id.idText},
              {"serialNumber", id.serialNumber},
              {"firmwareVersion", id.firmwareVersion}}},
            {"pages", pages}};
}

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
    if (!meter || !meter->is_object() || !(*meter)["family"].is_string())
        throw E("the file names no meter family");
    loaded.family = (*meter)["family"].get<std::string>();
    if (!file.contains("pages") || !file["pages"].is_array())
        throw E("the file holds no pages");
    std::set<int> seen;
    for (const auto& p : file["pages"]) {
        if (!p.is_object() || !p["page"].is_string() || !p["instance"].is_string() || !p["parameters"].is_array())
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
            if (!q.is_object() || !q["name"].is_string())
                throw E("a parameter of " + pageName + " " + instanceName + " is damaged");
            const std::string name = q["name"];
            const Row* row = nullptr;
            for (const Row& r : page->rows)
                if (r.control == name)
                    row = &r;
            if (!row || row->readOnly || IsProtection(*row))
                throw E("unknown parameter \"" + name + "\" on page " + pageName);
            const Slot slot{page, instance, row};
            if (!q["register"].is_number_integer() || q["register"] != slot.Register())
                throw E(Where(slot) + ": register does not match");
            if (!seen.insert(slot.Register()).second)
                throw E(Where(slot) + " appears twice");
            const auto& w = q["words"];
            if (!w.is_array() || w.size() != row->count)
                throw E(Where(slot) + ": needs " + std::to_string(row->count) + " words");
            Words words;
            for (const auto& v : w) {
                if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 65535)
                    throw E(Where(slot) + ": " + v.dump() + " is not a register word");
                words.push_back(static_cast<std::uint16_t>(v.get<int>()));
            }
            loaded.entries.push_back({slot, std::move(words)});
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
    return loaded;
}

std::vector<Difference> Compare(const std::vector<Entry>& entries, const std::vector<Words>& meter)
{
    std::vector<Difference> differences;
    for (std::size_t i = 0; i < entries.size() && i < meter.size(); ++i)
        if (entries[i].words != meter[i])
            differences.push_back({entries[i], meter[i]});
    return differences;
}

std::string DifferenceText(const Difference& d)
{
    return Where(d.entry.slot) + ": " + ValueText(d.entry.slot, d.meter) + " -> " +
           ValueText(d.entry.slot, d.entry.words);
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

}  // namespace subset
