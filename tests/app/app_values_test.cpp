// The window's logic without a window; frames and words worked out by hand, not by our encoders.

#include "CommandLine.h"
#include "ConnectionRules.h"
#include "DeviceIdentification.h"
#include "LineTraffic.h"
#include "MeasuredValue.h"
#include "RegisterValues.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

using namespace app;

namespace {

using U8 = std::vector<std::uint8_t>;
using Words = std::vector<std::uint16_t>;

// Exactly the given bytes on the heap, so a read past them is caught by the sanitizers.
U8 bytes(const std::string& s) { return {s.begin(), s.end()}; }

// ID text, 0xFF, serial (16), separator, firmware (17), Modbus firmware (16) and serial (16), marker.
std::string vortanReply(const std::string& marker)
{
    return std::string("VORTAN FLOW 3") + '\xFF' + "SN00000000001234" + "|" + "FW 1.02.03 build7" + "MBFW 2.10       "
           + "MBSN 0000004711 " + marker;
}

const std::string Head = "VORTAN FLOW 3\r\n\r\nVortan serial no.:         SN00000000001234\r\n";
const std::string Firmware = "Vortan FW version:     FW 1.02.03 build7\r\n";
const std::string ModbusLines = "Modbus FW version:  MBFW 2.10       \r\nModbus serial no.:      MBSN 0000004711 \r\n";
const std::string EmptyFields = "\r\n\r\nVortan serial no.:         \r\nVortan FW version:     \r\n"
                                "Modbus FW version:  \r\nModbus serial no.:      \r\n";

}  // namespace

TEST(CommandLine, SwitchesAndStartupLayout)
{
    struct Row { std::vector<std::string_view> args; CommandLineOptions options; };
    const Row rows[] = {
        {{}, {}}, {{"-expert"}, {.expert = true}}, {{"-Expert"}, {}}, {{"-EXPERT"}, {}}, {{"--expert"}, {}},
        {{"expert"}, {}}, {{"-expert "}, {}}, {{"/expert"}, {}},
        {{"-swap", "-calibr_factor"}, {.swap = true, .calibrFactor = true}},
        {{"-calibr_factor", "-swap"}, {.swap = true, .calibrFactor = true}},
        {{"-totalizer_rst", "junk", "-subset"}, {.totalizerReset = true, .subset = true}},
        {{"-subset", "-subset"}, {.subset = true}},
        {{"-expert", "-swap", "-totalizer_rst", "-calibr_factor", "-subset"}, {true, true, true, true, true}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(parseCommandLine(r.args), r.options) << (r.args.empty() ? "" : r.args.front());
    const char* argv[] = {"-subset", "-expert", nullptr};  // argv[0], the program name, is skipped
    EXPECT_EQ(parseCommandLine(2, argv), (CommandLineOptions{.expert = true}));
    EXPECT_EQ(parseCommandLine(1, argv), CommandLineOptions{});

    // width, height, swap, totalizer reset, calibration factor, subset group, subset view, panels 2 and 3
    struct Layout { CommandLineOptions options; StartupLayout layout; };
    const Layout layouts[] = {
        {{}, {520, 550, false, false, false, false, true, 0, 660}},
        {{.expert = true}, {520, 550, false, false, false, false, true, 0, 660}},
        {{.swap = true}, {520, 766, true, false, false, false, true, 0, 660}},
        {{.totalizerReset = true}, {520, 766, false, true, false, false, true, 0, 660}},
        {{.swap = true, .calibrFactor = true}, {520, 766, true, false, true, false, true, 0, 660}},
        {{.subset = true}, {520, 766, false, false, false, true, false, 330, 330}},
    };
    for (const Layout& r : layouts)
        EXPECT_TRUE(startupLayout(r.options) == r.layout) << startupLayout(r.options).height;
}

TEST(ConnectionRules, SilentIntervalFailureHintAndTcpPort)
{
    const std::pair<uint32_t, uint32_t> intervals[] = {
        {110, 4}, {300, 4}, {600, 4}, {1200, 4}, {2400, 8}, {4800, 8}, {9600, 40}, {14400, 4}, {19200, 40},
        {38400, 80}, {56000, 4}, {57600, 80}, {115200, 40}, {128000, 4}, {256000, 4}, {0, 4},  // 0: custom rate
    };
    for (const auto& [baud, interval] : intervals)
        EXPECT_EQ(silentIntervalForBaud(baud), interval) << baud;

    const std::string base =
        "Connection can't be established to Slave-Address 247 !\r\n\r\nPlease check the following settings:\r\n\r\n"
        "Modbus Settings -> Echo Reply\r\nModbus Slave Address\r\nBaud Rate, Stop Bit, Parity, Serial Port\r\n"
        "Did you want to use TCP/IP?";
    EXPECT_EQ(connectionFailureText(247, false), base);
    EXPECT_EQ(connectionFailureText(247, true),
              base + "\r\n\r\nThe Kaldor standard Brisko 485 stick needs to check\r\n[Remove Echo]!");

    const std::pair<const char*, std::optional<int>> ports[] = {
        {"502", 502}, {" 1502 ", 1502}, {"1", 1}, {"65535", 65535}, {"0", {}}, {"65536", {}}, {"-1", {}}, {"", {}},
        {"50x2", {}}, {"5 02", {}}, {"0x1F6", {}},
    };
    for (const auto& [text, port] : ports)
        EXPECT_EQ(parseTcpPort(text), port) << '"' << text << '"';
}

TEST(Identification, ReportsByMarkerAndStatusNeverReadingPastTheData)
{
    struct Row { std::string data; std::size_t byteCount; std::string text; };
    const std::string arm = vortanReply("ARM");
    ASSERT_EQ(arm.size(), 14u + 69u);
    const std::string all = Head + Firmware + ModbusLines;
    const Row rows[] = {
        {arm, arm.size(), Head + Firmware},  // the family marker: two field lines
        {vortanReply("XYZ"), 83, all}, {vortanReply("arm"), 83, all}, {vortanReply("AR "), 83, all},
        {std::string("ACME METER") + '\0' + "whatever follows", 27, "ACME METER"},  // the bare id text
        {"", 0, ""}, {"", 50, ""}, {"VORTAN", 6, "VORTAN" + EmptyFields},
        {"VORTAN X", 300, "VORTAN X" + EmptyFields},
        // twenty bytes after the indicator: serial whole, firmware "FW ", the rest missing
        {arm.substr(0, 14 + 20), 999, Head + "Vortan FW version:     FW \r\nModbus FW version:  \r\n"
                                             "Modbus serial no.:      \r\n"},
        {arm, arm.size() - 1, all},  // the count cuts the marker off the data
        {"VORT", 2, "VO"},
    };
    for (const Row& r : rows) {
        const auto data = bytes(r.data);
        EXPECT_EQ(identificationReport(5, data, r.byteCount), r.text) << r.data.size() << "/" << r.byteCount;
    }
    const DeviceIdentification id = decodeIdentification(bytes(arm));
    EXPECT_EQ(std::tuple(id.runIndicator, id.isVortan(), id.hasArmMarker()), std::tuple(0xFF, true, true));
    EXPECT_EQ(decodeIdentification(bytes(rows[4].data)).runIndicator, 0x00);

    const std::pair<int, std::string> failures[] = {
        {0, "Received no reply!"}, {1, "Received invalid frame!"}, {3, "Received unmatched reply!"},
        {4, "Received server exception!"}, {2, ""}, {6, ""}, {-1, ""},
    };
    for (const auto& [status, text] : failures)
        EXPECT_EQ(identificationReport(status, bytes(arm), arm.size()), text) << status;

    std::string padded = vortanReply("XYZ");
    padded.replace(14 + 4, 12, std::string(12, '\0'));  // serial "SN00" then NUL padding: ends the field only
    const DeviceIdentification p = decodeIdentification(bytes(padded));
    EXPECT_EQ(std::tuple(p.serialNumber, p.firmwareVersion, p.marker), std::tuple("SN00", "FW 1.02.03 build7", "XYZ"));
}

TEST(Identification, TcpWordsStopAtTheFirstZeroWordAndReportAsSerial)
{
    struct Row { Words words; U8 bytes; };
    const Row rows[] = {
        {{}, {}}, {{0x0000, 0x4142}, {}}, {{0x5641, 0x4F4E, 0x0000, 0x4142}, {'V', 'A', 'O', 'N'}},
        {{0x4100, 0x4243}, {'A', 0x00, 'B', 'C'}},  // a zero byte is not a zero word
        {{0x00FF}, {0x00, 0xFF}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(identificationBytesFromTcpWords(r.words), r.bytes);
    EXPECT_EQ(std::tuple(identificationBytesFromTcpWords(Words(125, 0x4141)).size(),
                         identificationBytesFromTcpWords(Words(130, 0x4141)).size()), std::tuple(250u, 250u));

    const std::string rep = vortanReply("XYZ");  // 83 bytes: the last word holds one byte
    Words words(125, 0);
    for (std::size_t i = 0; i < rep.size(); ++i)
        words[i / 2] |= static_cast<std::uint16_t>(static_cast<std::uint8_t>(rep[i]) << (i % 2 == 0 ? 8 : 0));
    const auto data = identificationBytesFromTcpWords(words);
    ASSERT_EQ(data.size(), 84u);
    EXPECT_EQ(identificationReport(5, data, data.size()), Head + Firmware + ModbusLines);  // as if over RTU
}

TEST(MeasuredValue, FormatRoundsToFourSignificantDigitsThenTwoDecimals)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::pair<double, std::string> rows[] = {
        {1.0, "1.00"}, {12.3456, "12.35"}, {123.456, "123.50"}, {1234.56, "1235.00"},
        {1234.5, "1235.00"}, {-1234.5, "-1235.00"},  // ties: away from zero
        {12.125, "12.13"}, {0.125, "0.13"},
        {0.995, "1.00"},      // 0.9950 first, then two decimals; %.2f alone gives 0.99
        {0.0049996, "0.01"},  // 0.005000 first
        {0.004, "0.00"}, {0.012345, "0.01"}, {-12.3456, "-12.35"}, {-0.001, "0.00"}, {-0.0, "0.00"},  // no "-0.00"
        {0.0, "0.00"}, {9999.4, "9999.00"}, {9999.6, "1E4"},  // rounds to five digits before the point
        {12345.6, "1.235E4"}, {-12345.6, "-1.235E4"}, {100000.0, "1E5"}, {1.5e20, "1.5E20"},
        {nan, "NAN"}, {inf, "INF"}, {-inf, "-INF"},
    };
    for (const auto& [value, text] : rows)
        EXPECT_EQ(formatMeasuredValue(value), text) << value;
    using Texts = std::vector<std::string>;
    const auto comma = [](double v) { return formatMeasuredValue(v, ","); };
    EXPECT_EQ((Texts{comma(1234.56), comma(12345.6), comma(0.0)}), (Texts{"1235,00", "1,235E4", "0,00"}));
    EXPECT_EQ((Texts{heartbeatText(0), heartbeatText(65535), heartbeatText(0x8000)}), (Texts{"0", "65535", "32768"}));
}

TEST(MeasuredValue, BlockFieldsStatusAndUnitText)
{
    // Low word first.
    EXPECT_EQ((std::vector{floatFromRegisters(0x0000, 0x3F80), floatFromRegisters(0x0000, 0xC120),
                           floatFromRegisters(0x0001, 0x3F80), floatFromRegisters(0x3F80, 0x0000)}),
              (std::vector{1.0f, -10.0f, std::nextafter(1.0f, 2.0f), std::bit_cast<float>(0x00003F80u)}));

    // unscaled 2.5 (0x40200000), unit id 3, scaled -10 (0xC1200000), unit "m3/min", 42 s.
    const Words regs = {1, 0x0000, 0x4020, 3, 0x0000, 0xC120, 0x336D, 0x6D2F, 0x6E69, 42, 0xAAAA, 0xBBBB};
    const auto block = decodeMeasuredValueBlock(regs);
    ASSERT_TRUE(block);
    EXPECT_EQ(std::tuple(block->status, block->unscaled, block->unitId, block->scaled, block->unitText),
              std::tuple(MeasStatus::Ok, 2.5f, 3, -10.0f, "m3/min"));
    EXPECT_EQ(std::tuple(block->secondsSinceUpdate, block->registers[9]), std::tuple(42, 42));  // the first ten kept
    EXPECT_EQ(measuredValueCells(*block, ",").value, "-10,00");
    EXPECT_EQ(decodeMeasuredValueBlock(regs, TextByteOrder::HighByteFirst)->unitText, "3mm/ni");

    struct Row { std::uint16_t status; std::string statusText, value; bool clear; };
    for (const Row& r : {Row{1, "OK", "1.00", false}, {0, "Never set", "", true}, {2, "Failed", "", true},
                         {0xFFFF, "Failed", "", true}}) {
        const auto b = decodeMeasuredValueBlock(Words{r.status, 0, 0, 7, 0x0000, 0x3F80, 0, 0, 0, 12, 0xAAAA});
        ASSERT_TRUE(b);
        const MeasuredValueCells cells = measuredValueCells(*b);
        EXPECT_EQ(std::tuple(cells.status, cells.value, cells.clearValueAndHeartbeat),
                  std::tuple(r.statusText, r.value, r.clear));
    }
    // Latin-1 kept; a text hidden behind a NUL.
    EXPECT_EQ(decodeMeasuredValueBlock(Words{0, 0, 0, 0, 0, 0, 0x43B0, 0, 0, 0})->unitText, "\xB0" "C");
    EXPECT_EQ(decodeMeasuredValueBlock(Words{0, 0, 0, 0, 0, 0, 0, 0x4141, 0, 0})->unitText, "");
    EXPECT_FALSE(decodeMeasuredValueBlock(Words(9, 1)));  // a short reply is not a block
    EXPECT_FALSE(decodeMeasuredValueBlock({}));
}

TEST(RegisterValues, EncodeAndDecode)
{
    using enum DataType;
    struct Enc { DataType type; const char* text; Words words; std::string error; };  // error: its start
    const Enc encodes[] = {
        {Int16, "65535", {0xFFFF}, ""}, {Int16, "-1", {0xFFFF}, ""}, {Int16, "-32768", {0x8000}, ""},
        {Int16, "65536", {}, "'65536' is out of range"}, {Int16, "-32769", {}, "'-32769' is out of range"},
        {Int16, "12a", {}, "'12a' is not a valid integer value"}, {Int16, "", {}, "'' is not a valid integer value"},
        {Int32, "131073", {0x0001, 0x0002}, ""}, {Int32, "4294967295", {0xFFFF, 0xFFFF}, ""},
        {Int32, "-2147483648", {0x0000, 0x8000}, ""}, {Int32, "4294967296", {}, "'4294967296' is out of range"},
        {Float, "1.5", {0x0000, 0x3FC0}, ""}, {Float, "1,5", {0x0000, 0x3FC0}, ""}, {Float, "-2.5", {0x0000, 0xC020}, ""},
        {Float, "1e39", {}, "'1e39' is out of range"}, {Float, "nan", {}, "'nan' is not a valid floating point value"},
        {Float, "inf", {}, "'inf' is not a valid floating point value"},
        {Float, "1,5.2", {}, "'1,5.2' is not a valid floating point value"},
        {Char, "A", {65}, ""}, {Char, "AB", {}, ""}, {Char, "", {}, ""},
    };
    for (const Enc& c : encodes) {
        SCOPED_TRACE(c.text);
        const Encoded e = encodeValue(c.type, c.text);
        EXPECT_EQ(std::tuple(e.words, e.error.substr(0, c.error.size()), e.error.empty()),
                  std::tuple(c.words, c.error, c.error.empty()));
    }
    struct Dec { DataType type; Words regs; const char* text; };
    const Dec decodes[] = {
        {Int16, {0xFFFF}, "65535"}, {Int32, {0x0001, 0x0002}, "131073"}, {Float, {0x0000, 0x3FC0}, "1.50"},
        {Float, {0x0000, 0xC020}, "-2.50"}, {Float, {0x5000, 0x47C3}, "100000.00"},
        {Float, {0x9680, 0x4B18}, "1E7"},  // 10000000: past seven integer digits
        {Float, {0x0903, 0x3E4A}, "0.20"}, {Char, {0x4142}, "B"},
        {Float, {0x0000}, ""},             // a reply too short for the type
    };
    for (const Dec& c : decodes)
        EXPECT_EQ(decodeRegisters(c.type, c.regs), c.text) << c.text;
    EXPECT_EQ(decodeRegisters(Float, Words{0x0000, 0x3FC0}, ","), "1,50");

    // Big Endian 16-bit, Word Swap long ints, Byte Swap floats: 1 | 2 << 1 | 1 << 3 = 0x0D.
    EXPECT_EQ((std::vector{byteOrderRegister(1, 2, 1), byteOrderRegister(0, 0, 0), byteOrderRegister(-1, -1, -1),
                           byteOrderRegister(1, 3, 3)}),
              (Words{0x0D0D, 0x0000, 0x0000, 0x1F1F}));
    EXPECT_EQ(std::tuple(hexWord(0x1F1F), hexWord(0x000d)), std::tuple("0x1F1F", "0x000D"));
    EXPECT_EQ(std::tuple(dataTypeFromText("Float"), dataTypeFromText("Datatype"), dataTypeFromText("float")),
              std::tuple(std::optional{Float}, std::nullopt, std::nullopt));
    EXPECT_EQ(std::tuple(registerCount(Int32), registerCount(Char)), std::tuple(2, 1));
}

TEST(LineTraffic, Summaries)
{
    using enum FrameKind;
    const Direction tx = Direction::Sent, rx = Direction::Received;
    struct Case { FrameKind kind; Direction dir; U8 frame; const char* summary; };
    const Case cases[] = {
        {Rtu, tx, {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}, "addr 1 fc3 0+10"},
        {Rtu, tx, {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCE}, "bad checksum"},
        {Rtu, rx, {0x01, 0x83, 0x02, 0xC0, 0xF1}, "addr 1 fc3 exception seIllegalDataAddress"},
        {Rtu, rx, {0x01, 0x03}, "short frame"}, {Rtu, rx, {}, "empty"},
        {Ascii, tx, bytes(":010300000001FB\r\n"), "addr 1 fc3 0+1"},
        {Ascii, tx, bytes(":010300000001FC\r\n"), "bad checksum"}, {Ascii, tx, bytes(":01G300000001FB\r\n"), "bad frame"},
        {Tcp, tx, {0, 1, 0, 0, 0, 6, 1, 0x03, 0, 0, 0, 0x0A}, "unit 1 tid 1 fc3 0+10"},
        {Tcp, rx, {0, 7, 0, 0, 0, 5, 1, 0x03, 2, 0x12, 0x34}, "unit 1 tid 7 fc3 2 bytes"},
        {Tcp, rx, {0, 1, 0, 0, 0, 9, 1, 0x03, 2, 0x12, 0x34}, "bad length"},
        {Tcp, tx, {0, 2, 0, 0, 0, 6, 1, 0x06, 0, 17, 0x0D, 0x0D}, "unit 1 tid 2 fc6 17=3341"},
        {Tcp, tx, {0, 3, 0, 0, 0, 2, 1, 0x11}, "unit 1 tid 3 fc17"},
        {Tcp, rx, {0, 4, 0, 0, 0, 6, 1, 0x10, 0, 100, 0, 2}, "unit 1 tid 4 fc16 100+2"},
        {Tcp, rx, {0, 3, 0, 0, 0, 3, 1, 0x91, 0x01}, "unit 1 tid 3 fc17 exception seIllegalCommand"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SummariseFrame(c.kind, c.dir, c.frame), c.summary) << c.summary;
    EXPECT_EQ(MonitorLine(12.3456, tx, U8{0x01, 0xAB}, "x"), "    12.346  TX  01 AB  x");

    TrafficLog log(3);  // keeps the newest lines
    for (int i = 0; i < 5; ++i)
        log.Add(std::to_string(i));
    EXPECT_EQ(std::tuple(log.Text(), log.Dropped()), std::tuple("2\n3\n4\n", 2u));
    log.Clear();
    EXPECT_EQ(log.Text(), "");

    EXPECT_EQ(CsvHeader(), "time,channel,quantity,status,value,unit,heartbeat");
    EXPECT_EQ(CsvRow("2026-12-07T10:00:00.123", "A", "Volume Flow", "OK", "12,35", "m\xB3/h", "42"),
              "2026-12-07T10:00:00.123,A,Volume Flow,OK,\"12,35\",m\xB3/h,42");
    EXPECT_EQ(CsvRow("t", "A", "say \"hi\"", "", "", "", ""), "t,A,\"say \"\"hi\"\"\",,,,");
}

TEST(LineTraffic, StatisticsAndHints)
{
    LineStatistics stats;
    for (double ms : {10.0, 30.0, 20.0})
        stats.Record(1, RequestEnd::Reply, ms);
    stats.Record(1, RequestEnd::Exception, 5.0);
    stats.Record(1, RequestEnd::Timeout);
    stats.Record(1, RequestEnd::Late);
    const AddressStatistics& a = stats.ByAddress().at(1);
    // requests, replies, exceptions, late: the late reply's request was the time-out
    EXPECT_EQ(std::tuple(a.requests, a.replies, a.exceptions, a.late), std::tuple(5u, 3u, 1u, 1u));
    EXPECT_EQ(std::tuple(a.lastMs, a.MedianMs(), a.MaxMs(), a.Hint()), std::tuple(5.0, 20.0, 30.0, ""));
    for (int i = 0; i < 3; ++i)
        stats.Record(7, RequestEnd::Timeout);
    EXPECT_EQ(stats.ByAddress().at(7).Hint(), "No answer at all: check the address, the speed and the wiring.");
    for (int i = 0; i < 2; ++i)
        stats.Record(9, RequestEnd::BadChecksum);
    stats.Record(9, RequestEnd::Reply, 12.0);
    EXPECT_EQ(stats.ByAddress().at(9).Hint(), "Many bad checksums: check the parity, the speed and the line's termination.");
    stats.RecordEcho(9);
    EXPECT_EQ(stats.ByAddress().at(9).Hint(), "Our own request came back: the adapter echoes; try the echo option.");
    stats.Reset();
    EXPECT_TRUE(stats.ByAddress().empty());
}
