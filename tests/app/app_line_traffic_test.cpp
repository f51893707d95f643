// The traffic monitor's decoding and the line statistics. Frames are the protocol's textbook
// examples (checksums worked out independently), not built by our encoder.

#include "LineTraffic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace app;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> b)
{
    std::vector<std::uint8_t> v;
    for (int x : b)
        v.push_back(static_cast<std::uint8_t>(x));
    return v;
}

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(LineTraffic, SummaryTable)
{
    struct Case {
        FrameKind kind;
        Direction dir;
        std::vector<std::uint8_t> frame;
        const char* summary;
    } cases[] = {
        {FrameKind::Rtu, Direction::Sent, Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}), "addr 1 fc3 0+10"},
        {FrameKind::Rtu, Direction::Sent, Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCE}), "bad checksum"},
        {FrameKind::Rtu, Direction::Received, Bytes({0x01, 0x83, 0x02, 0xC0, 0xF1}),
         "addr 1 fc3 exception seIllegalDataAddress"},
        {FrameKind::Rtu, Direction::Received, Bytes({0x01, 0x03}), "short frame"},
        {FrameKind::Rtu, Direction::Received, {}, "empty"},
        {FrameKind::Ascii, Direction::Sent, Text(":010300000001FB\r\n"), "addr 1 fc3 0+1"},
        {FrameKind::Ascii, Direction::Sent, Text(":010300000001FC\r\n"), "bad checksum"},
        {FrameKind::Ascii, Direction::Sent, Text(":01G300000001FB\r\n"), "bad frame"},
        {FrameKind::Tcp, Direction::Sent, Bytes({0, 1, 0, 0, 0, 6, 1, 0x03, 0, 0, 0, 0x0A}), "unit 1 tid 1 fc3 0+10"},
        {FrameKind::Tcp, Direction::Received, Bytes({0, 7, 0, 0, 0, 5, 1, 0x03, 2, 0x12, 0x34}), "unit 1 tid 7 fc3 2 bytes"},
        {FrameKind::Tcp, Direction::Received, Bytes({0, 1, 0, 0, 0, 9, 1, 0x03, 2, 0x12, 0x34}), "bad length"},
        {FrameKind::Tcp, Direction::Sent, Bytes({0, 2, 0, 0, 0, 6, 1, 0x06, 0, 17, 0x0D, 0x0D}), "unit 1 tid 2 fc6 17=3341"},
        {FrameKind::Tcp, Direction::Sent, Bytes({0, 3, 0, 0, 0, 2, 1, 0x11}), "unit 1 tid 3 fc17"},
        {FrameKind::Tcp, Direction::Received, Bytes({0, 3, 0, 0, 0, 3, 1, 0x91, 0x01}),
         "unit 1 tid 3 fc17 exception seIllegalCommand"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        EXPECT_EQ(SummariseFrame(c.kind, c.dir, c.frame), c.summary);
    }
    EXPECT_EQ(MonitorLine(12.3456, Direction::Sent, Bytes({0x01, 0xAB}), "x"), "    12.346  TX  01 AB  x");
}

TEST(LineTraffic, LogKeepsTheNewestLines)
{
    TrafficLog log(3);
    for (int i = 0; i < 5; ++i)
        log.Add(std::to_string(i));
    EXPECT_EQ(log.Text(), "2\n3\n4\n");
    EXPECT_EQ(log.Dropped(), 2u);
    log.Clear();
    EXPECT_EQ(log.Text(), "");
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
    EXPECT_EQ(a.requests, 5u);  // the late reply's request was the time-out
    EXPECT_EQ(a.replies, 3u);
    EXPECT_EQ(a.exceptions, 1u);
    EXPECT_EQ(a.late, 1u);
    EXPECT_EQ(a.lastMs, 5.0);
    EXPECT_EQ(a.MedianMs(), 20.0);
    EXPECT_EQ(a.MaxMs(), 30.0);
    EXPECT_EQ(a.Hint(), "");

    for (int i = 0; i < 3; ++i)
        stats.Record(7, RequestEnd::Timeout);
    EXPECT_EQ(stats.ByAddress().at(7).Hint(), "No answer at all: check the address, the speed and the wiring.");
    for (int i = 0; i < 2; ++i)
        stats.Record(9, RequestEnd::BadChecksum);
    stats.Record(9, RequestEnd::Reply, 12.0);
    EXPECT_EQ(stats.ByAddress().at(9).Hint(),
              "Many bad checksums: check the parity, the speed and the line's termination.");
    stats.RecordEcho(9);
    EXPECT_EQ(stats.ByAddress().at(9).Hint(), "Our own request came back: the adapter echoes; try the echo option.");
    stats.Reset();
    EXPECT_TRUE(stats.ByAddress().empty());
}

TEST(LineTraffic, CsvRowsQuoteWhatNeedsIt)
{
    EXPECT_EQ(CsvHeader(), "time,channel,quantity,status,value,unit,heartbeat");
    EXPECT_EQ(CsvRow("2026-12-07T10:00:00.123", "A", "Volume Flow", "OK", "12,35", "m\xB3/h", "42"),
              "2026-12-07T10:00:00.123,A,Volume Flow,OK,\"12,35\",m\xB3/h,42");
    EXPECT_EQ(CsvRow("t", "A", "say \"hi\"", "", "", "", ""), "t,A,\"say \"\"hi\"\"\",,,,");
}

}  // namespace
