#pragma once

// A meter's configuration as a file: every subset page read row by row into JSON, and a file
// compared with a meter to give the rows that differ and the writes that would make them equal.
// The transport is the caller's: every request goes through a Perform callback.

#include "RegisterMap.h"
#include "Transfer.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace subset {

using Perform = std::function<modbus::Outcome(const modbus::Request&)>;

inline constexpr std::string_view ConfigurationFormat = "tarnwick-configuration";
inline constexpr int ConfigurationVersion = 1;

// One row of one page instance.
struct Slot {
    const Page* page = nullptr;
    int instance = 0;
    const Row* row = nullptr;
    int Register() const { return row->reg + InstanceOffset(page->id, instance); }
};

// "A", "B" for the channel pages, "Y", "Z" for the calculation channel, "Loop 1", "T1", "1".
std::string InstanceName(PageId id, int instance);

// The rows a configuration holds: every writable row of every page instance except the write
// protection (a device secret, never copied). channel "A"/"B" keeps only that channel's pages,
// "Y"/"Z" only that calculation channel; empty keeps all. nullopt for another letter.
std::optional<std::vector<Slot>> ConfigurationSlots(std::string_view channel);

// The readable form of a row's words: list entries by text, numbers as numbers, null where
// the table knows no entry for the code.
nlohmann::json ReadableValue(const Slot& slot, const Words& words);

// Reads every slot, one request each. Throws std::runtime_error naming the first row that
// failed.
std::vector<Words> ReadSlots(const Perform& perform, const std::vector<Slot>& slots);

// The file's content; identification fields are the meter's decoded answer to function 17.
struct Identification {
    std::string family, idText, serialNumber, firmwareVersion;
};
nlohmann::json BuildConfiguration(const Identification& id, const std::string& date,
                                  const std::vector<Slot>& slots, const std::vector<Words>& words);

// A file checked against the register map: each entry a slot and the words to hold.
struct Entry {
    Slot slot;
    Words words;
};
struct Loaded {
    std::string family;
    std::vector<Entry> entries;
};
// Throws std::invalid_argument with the reason for a damaged file, another format or version,
// an unknown page, instance or parameter, a read-only row, or words that do not fit the row.
Loaded LoadConfiguration(const nlohmann::json& file);

// A parameter whose words on the meter differ from the file's.
struct Difference {
    Entry entry;
    Words meter;
};
std::vector<Difference> Compare(const std::vector<Entry>& entries, const std::vector<Words>& meter);

// "Pipe A OuterDiameter (24000): 100 -> 114.3"
std::string DifferenceText(const Difference& d);

// One write-multiple: a row, or a quantity with the unit joined to it, of which at least one
// differs. Rows of the group come from the file; a group the file holds only part of is an error.
struct Write {
    std::vector<Entry> rows;
    modbus::Request Request() const;
};
std::vector<Write> WritePlan(const std::vector<Entry>& entries, const std::vector<Difference>& differences);

inline constexpr std::uint16_t ProtectionRegister = 29254;
// The global settings' unlock (enable 0 and the code) or lock again (enable 1 and the code).
modbus::Request ProtectionWrite(bool enable, std::uint32_t code);

}  // namespace subset
