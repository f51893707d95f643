#include "DeviceIdentification.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace app;

namespace {

// Exactly the given bytes on the heap, so a read past them is caught by the sanitizers.
std::vector<std::uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// ID text, run indicator 0xFF, then the 69 characters: serial (16), separator, firmware (17),
// Modbus firmware (16), Modbus serial (16), marker (3).
std::string vortanReply(const std::string& marker)
{
    return std::string("VORTAN FLOW 3") + '\xFF' + "SN00000000001234" + "|" + "FW 1.02.03 build7"
           + "MBFW 2.10       " + "MBSN 0000004711 " + marker;
}

}  // namespace

TEST(Identification, WithMarkerTwoFieldLines)
{
    const auto data = bytes(vortanReply("ARM"));
    ASSERT_EQ(data.size(), 14u + 69u);
    EXPECT_EQ(identificationReport(5, data, data.size()),
              "VORTAN FLOW 3\r\n\r\n"
              "Vortan serial no.:         SN00000000001234\r\n"
              "Vortan FW version:     FW 1.02.03 build7\r\n");
    const DeviceIdentification id = decodeIdentification(data);
    EXPECT_EQ(id.runIndicator, 0xFF);
    EXPECT_TRUE(id.isVortan());
    EXPECT_TRUE(id.hasArmMarker());
}

TEST(Identification, OtherMarkerFourFieldLines)
{
    for (const std::string marker : {"XYZ", "arm", "AR "}) {
        const auto data = bytes(vortanReply(marker));
        EXPECT_EQ(identificationReport(5, data, data.size()),
                  "VORTAN FLOW 3\r\n\r\n"
                  "Vortan serial no.:         SN00000000001234\r\n"
                  "Vortan FW version:     FW 1.02.03 build7\r\n"
                  "Modbus FW version:  MBFW 2.10       \r\n"
                  "Modbus serial no.:      MBSN 0000004711 \r\n")
            << marker;
    }
}

TEST(Identification, ForeignDeviceShowsTheBareIdText)
{
    const auto data = bytes(std::string("ACME METER") + '\0' + "whatever follows");
    EXPECT_EQ(identificationReport(5, data, data.size()), "ACME METER");
    EXPECT_EQ(decodeIdentification(data).runIndicator, 0x00);
}

TEST(Identification, NeverReadsPastTheData)
{
    struct Row { std::string data; std::size_t byteCount; std::string text; };
    const std::string rep = vortanReply("ARM");
    const std::vector<Row> rows = {
        {"", 0, ""},
        {"", 50, ""},
        {"VORTAN", 6, "VORTAN\r\n\r\nVortan serial no.:         \r\nVortan FW version:     \r\n"
                      "Modbus FW version:  \r\nModbus serial no.:      \r\n"},
        {"VORTAN X", 300, "VORTAN X\r\n\r\nVortan serial no.:         \r\nVortan FW version:     \r\n"
                          "Modbus FW version:  \r\nModbus serial no.:      \r\n"},
        // twenty bytes after the indicator: serial whole, firmware "FW ", the rest missing
        {rep.substr(0, 14 + 20), 999, "VORTAN FLOW 3\r\n\r\nVortan serial no.:         SN00000000001234\r\n"
                                      "Vortan FW version:     FW \r\nModbus FW version:  \r\n"
                                      "Modbus serial no.:      \r\n"},
        // the byte count cuts the marker off although the data holds it
        {rep, rep.size() - 1, "VORTAN FLOW 3\r\n\r\nVortan serial no.:         SN00000000001234\r\n"
                              "Vortan FW version:     FW 1.02.03 build7\r\n"
                              "Modbus FW version:  MBFW 2.10       \r\n"
                              "Modbus serial no.:      MBSN 0000004711 \r\n"},
        {"VORT", 2, "VO"},
    };
    for (const Row& r : rows) {
        const auto data = bytes(r.data);
        EXPECT_EQ(identificationReport(5, data, r.byteCount), r.text) << r.data.size() << "/" << r.byteCount;
    }
}

TEST(Identification, PaddingNulEndsAFieldOnly)
{
    std::string rep = vortanReply("XYZ");
    rep.replace(14 + 4, 12, std::string(12, '\0'));  // serial "SN00" then NUL padding
    const auto data = bytes(rep);
    const DeviceIdentification id = decodeIdentification(data);
    EXPECT_EQ(id.serialNumber, "SN00");
    EXPECT_EQ(id.firmwareVersion, "FW 1.02.03 build7");
    EXPECT_EQ(id.marker, "XYZ");
}

TEST(Identification, FailureTexts)
{
    const std::vector<std::pair<int, std::string>> rows = {
        {0, "Received no reply!"},        {1, "Received invalid frame!"},
        {3, "Received unmatched reply!"}, {4, "Received server exception!"},
        {2, ""}, {6, ""}, {-1, ""},
    };
    const auto data = bytes(vortanReply("ARM"));
    for (const auto& [status, text] : rows)
        EXPECT_EQ(identificationReport(status, data, data.size()), text) << status;
}

TEST(TcpIdentification, WordsToBytesStopAtFirstZeroWord)
{
    struct Row { std::vector<std::uint16_t> words; std::vector<std::uint8_t> bytes; };
    const std::vector<Row> rows = {
        {{}, {}},
        {{0x0000, 0x4142}, {}},
        {{0x5641, 0x4F4E, 0x0000, 0x4142}, {'V', 'A', 'O', 'N'}},
        {{0x4100, 0x4243}, {'A', 0x00, 'B', 'C'}},  // a zero byte is not a zero word
        {{0x00FF}, {0x00, 0xFF}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(identificationBytesFromTcpWords(r.words), r.bytes);

    EXPECT_EQ(identificationBytesFromTcpWords(std::vector<std::uint16_t>(125, 0x4141)).size(), 250u);
    EXPECT_EQ(identificationBytesFromTcpWords(std::vector<std::uint16_t>(130, 0x4141)).size(), 250u);
}

TEST(TcpIdentification, SameReportAsSerial)
{
    const std::string rep = vortanReply("XYZ");  // 83 bytes: the last word holds one byte
    std::vector<std::uint16_t> words(125, 0);
    for (std::size_t i = 0; i < rep.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(rep[i]);
        words[i / 2] |= static_cast<std::uint16_t>(i % 2 == 0 ? b << 8 : b);
    }
    const auto data = identificationBytesFromTcpWords(words);
    ASSERT_EQ(data.size(), 84u);
    const auto serial = bytes(rep);
    EXPECT_EQ(identificationReport(5, data, data.size()), identificationReport(5, serial, serial.size()));
}
