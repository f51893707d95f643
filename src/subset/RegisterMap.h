#pragma once

// The meter's parameter subset as data: every page is a table of rows, each row one read
// request (its first register and count) and, unless read-only, one write. The page transfer
// walks these tables; a page adds controls, checks and effects, never its own request loop.

#include "Encodings.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace subset {

enum class Encoding {
    Index,   // 1 register: the list position
    U16,     // 1 register, decimal
    F32,     // 2 registers, IEEE single
    U32,     // 2 registers, shown unsigned, written from a signed text too
    Code,    // 1 register: a device code, through the row's table
    Code32,  // 2 registers: four letters, through the output quantity table
    Chars7,  // 4 registers: seven characters
    Bits,    // 1 register: check boxes, one bit each
};

enum class CodeTable {
    None, Material, Fluid, OutputQuantity, OutputChannel, CalcInput, Linkage, InputChannel,
    InputStatus,  // a U16 shown as a process input's status text
};

struct Row {
    std::uint16_t reg = 0;  // of the first instance
    std::uint16_t count = 1;
    Encoding encoding = Encoding::Index;
    std::string_view control;  // objectName; numbered pages append the instance number
    CodeTable table = CodeTable::None;
    bool readOnly = false;
    // Written in one request with the row before it (a quantity and its unit).
    bool joinsPrevious = false;
    int decimals = 3;  // of a float as shown
};

enum class PageId {
    Pipe, Fluid, Transducer, Measuring, Linking,
    Calculation, Global, CurrentLoop, TemperatureInput, ModbusProcessInput,
};

struct Page {
    PageId id;
    std::string_view name;
    std::span<const Row> rows;
    std::string_view getStart, getEnd, writeStart, writeEnd;  // status panel 4
    std::string_view getButton, writeButton;                  // objectNames
    bool readBackAfterWrite = false;
    bool numberedControls = false;
    // The first row says whether the instance exists: at "Not Present" (position 2) the other
    // rows are neither read nor written.
    bool presenceFirst = false;
};

inline constexpr int NotPresentPosition = 2;

const Page& PageOf(PageId id);
std::span<const Page> Pages();

// Register offset of an instance: channel A/B, Y/Z, loop 1/2, T1/T2, process input 1..4.
// Instance 0 is the first; the global page has one instance.
int InstanceOffset(PageId id, int instance);

// The rows read and written outside the pages' own loops.
const Row& ProtectionRow();      // 29254, read before every write
const Row& MeasuringStateRow();  // 29257

// The row of a register (offsets included) on a page, if it has one.
const Row* FindRow(const Page& page, int instance, int reg);

// A page's rows grouped into its write requests: runs of rows joined to the one before,
// read-only rows left out. Each span is one request starting at its first row's register.
std::vector<std::span<const Row>> WriteGroups(const Page& page);

}  // namespace subset
