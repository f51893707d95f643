#pragma once

// A meter's configuration as a file: every subset page read row by row into JSON, and a file
// compared with a meter to give the rows that differ and the writes that would make them equal.
// The transport is the caller's: every request goes through a Perform callback, so the
// command-line client and the window run the same steps.

#include "RegisterMap.h"
#include "Transfer.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace subset {

using Perform = std::function<modbus::Outcome(const modbus::Request&)>;

inline constexpr std::string_view ConfigurationFormat = "tarnwick-configuration";
// 2: list entries by their text and numbers with their units beside the words.
inline constexpr int ConfigurationVersion = 2;

// One row of one page instance.
struct Slot {
    const Page* page = nullptr;
    int instance = 0;
    const Row* row = nullptr;
    int Register() const { return row->reg + InstanceOffset(page->id, instance); }
};

// "A", "B" for the channel pages, "Y", "Z" for the calculation channel, "Loop 1", "T1", "1".
std::string InstanceName(PageId id, int instance);
// "Pipe A OuterDiameter (24000)"
std::string SlotName(const Slot& s);

// The rows a configuration holds: every writable row of every page instance except the write
// protection (a device secret, never copied) and the Modbus process inputs' values (live
// process data a control system feeds in, not a setting). channel "A"/"B" keeps only that
// channel's pages, "Y"/"Z" only that calculation channel; empty keeps all. nullopt for another
// letter.
std::optional<std::vector<Slot>> ConfigurationSlots(std::string_view channel);

// The words of another register (offsets included), for values whose list or unit follows
// another row; null when unknown.
using WordsAt = std::function<const Words*(int reg)>;

// The readable form of a row's words as the window shows them: list entries and check boxes
// by their text, numbers as numbers, null where the list has no entry for the code.
nlohmann::json ReadableValue(const Slot& slot, const Words& words, const WordsAt& others = {});
// The unit the window shows beside the row's number (UTF-8); empty for none.
std::string ReadableUnit(const Slot& slot, const WordsAt& others = {});
// "114.3 mm", "Stainless Steel", or the words "[0,17096]" when there is no readable form.
std::string ValueText(const Slot& slot, const Words& words, const WordsAt& others = {});

// The meter's answer to function 17, decoded.
struct Identification {
    std::string family, idText, serialNumber, firmwareVersion;
};
// Throws std::runtime_error when the meter does not answer or is no VORTAN.
Identification Identify(const Perform& perform);

// Reads every slot, one request each. Throws std::runtime_error naming the first row that
// failed.
std::vector<Words> ReadSlots(const Perform& perform, const std::vector<Slot>& slots);

nlohmann::json BuildConfiguration(const Identification& id, const std::string& date,
                                  const std::vector<Slot>& slots, const std::vector<Words>& words);
// The meter identified and read: the file's content.
nlohmann::json ReadConfiguration(const Perform& perform, const std::vector<Slot>& slots);
// "2024-05-01T12:00:00Z"
std::string UtcTimestamp();

// A file checked against the register map: each entry a slot and the words to hold.
struct Entry {
    Slot slot;
    Words words;
};
struct Loaded {
    std::string family;
    std::vector<Entry> entries;
    const Words* WordsOf(int reg) const;
};
// Throws std::invalid_argument with the reason for a damaged file, another format or version,
// an unknown page, instance or parameter, a read-only row, words that do not fit the row, or
// a readable value or unit that is no entry of its list or says other than the words.
Loaded LoadConfiguration(const nlohmann::json& file);
// Reads and loads a file; std::invalid_argument: "FILE is damaged: ...", "FILE refused: ...".
Loaded LoadConfigurationFile(const std::filesystem::path& path);

// A parameter whose words on the meter differ from the file's, with both as the window shows them.
struct Difference {
    Entry entry;
    Words meter;
    std::string meterText, fileText;
};
std::vector<Difference> Compare(const std::vector<Entry>& entries, const std::vector<Words>& meter);

// "Pipe A OuterDiameter (24000): 100.0 mm -> 114.3 mm"
std::string DifferenceText(const Difference& d);

// The meter as the file would change it. Throws std::invalid_argument when the meter is of
// another family than the file, std::runtime_error when a read fails.
struct Comparison {
    Identification meter;
    std::vector<Difference> differences;
    bool protectionActive = false;
};
Comparison CompareWithMeter(const Perform& perform, const Loaded& loaded);

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

// What writing the differences came to. Every write is read back; each row that does not hold
// the file's words afterwards is a failure line.
struct WriteReport {
    std::size_t requests = 0;
    bool unlockRefused = false;  // the protection code was not taken: nothing written
    bool aborted = false;        // the connection ended between two requests
    std::vector<std::string> failures;
    bool Ok() const { return !unlockRefused && !aborted && failures.empty(); }
};
// unlockCode: the meter's protection is active; it is switched off with the code first and on
// again at the end. Throws std::invalid_argument when it is active and no code is given.
WriteReport WriteDifferences(const Perform& perform, const Loaded& loaded, const Comparison& comparison,
                             std::optional<std::uint32_t> unlockCode);

}  // namespace subset
