// The meter's application layer and the --device parser: tables of requests and settings.

#include "DeviceSettings.h"
#include "Meter.h"
#include "MeterPdu.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace vsim;
using Bytes = std::vector<uint8_t>;

TEST(PduTest, ExceptionsAndEchoes)
{
    struct Row { const char* what; Bytes request; Bytes reply; };
    const Row rows[] = {
        {"unknown function", {0x04, 0x00, 0x00, 0x00, 0x01}, {0x84, 0x01}},
        {"read count 0", {0x03, 0x00, 0x01, 0x00, 0x00}, {0x83, 0x03}},
        {"read count 126", {0x03, 0x03, 0xE8, 0x00, 0x7E}, {0x83, 0x03}},
        {"read past 65535", {0x03, 0xFF, 0xFF, 0x00, 0x02}, {0x83, 0x02}},
        {"read a gap", {0x03, 0x00, 0x02, 0x00, 0x01}, {0x83, 0x02}},
        {"read truncated", {0x03, 0x00, 0x01, 0x00}, {0x83, 0x03}},
        {"crt flag", {0x03, 0xFF, 0xFF, 0x00, 0x01}, {0x03, 0x02, 0x00, 0x00}},
        {"write single echoes", {0x06, 0x04, 0x5B, 0x00, 0x03}, {0x06, 0x04, 0x5B, 0x00, 0x03}},
        {"write single bad value", {0x06, 0x72, 0x49, 0x00, 0x02}, {0x86, 0x03}},
        {"write multiple", {0x10, 0x00, 0x11, 0x00, 0x01, 0x02, 0x1F, 0x1F}, {0x10, 0x00, 0x11, 0x00, 0x01}},
        {"byte count lies", {0x10, 0x00, 0x11, 0x00, 0x01, 0x04, 0x1F, 0x1F}, {0x90, 0x03}},
        {"data missing", {0x10, 0x00, 0x11, 0x00, 0x02, 0x04, 0x1F, 0x1F}, {0x90, 0x03}},
        {"write 124 registers", {0x10, 0x00, 0x11, 0x00, 0x7C, 0xF8}, {0x90, 0x03}},
        {"return query data", {0x08, 0x00, 0x00, 0xA5, 0x37}, {0x08, 0x00, 0x00, 0xA5, 0x37}},
        {"restart bad data", {0x08, 0x00, 0x01, 0x12, 0x34}, {0x88, 0x03}},
        {"restart", {0x08, 0x00, 0x01, 0xFF, 0x00}, {0x08, 0x00, 0x01, 0xFF, 0x00}},
        {"unknown sub-function", {0x08, 0x00, 0x03, 0x00, 0x00}, {0x88, 0x01}},
        {"diagnostic register", {0x08, 0x00, 0x02, 0x00, 0x00}, {0x08, 0x00, 0x02, 0x00, 0x00}},
        {"server id with data", {0x11, 0x00}, {0x91, 0x03}},
    };
    TMeter meter(TMeterIdentity{});
    TPduServer server(meter);
    for (const Row& r : rows) {
        const auto reply = server.Serve(r.request, false);
        ASSERT_TRUE(reply) << r.what;
        EXPECT_EQ(*reply, r.reply) << r.what;
    }
}

TEST(PduTest, ServerIdReplyCarriesItsByteCount)
{
    TMeter meter(TMeterIdentity{});
    TPduServer server(meter);
    const auto reply = server.Serve(Bytes{0x11}, false);
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), 2u);
    EXPECT_EQ(reply->at(1), reply->size() - 2);
    EXPECT_EQ(Bytes(reply->begin() + 2, reply->end()), meter.Identification());
}

TEST(PduTest, ListenOnlyUntilRestartAndBroadcastsStaySilent)
{
    TMeter meter(TMeterIdentity{});
    TPduServer server(meter);
    const Bytes read = {0x03, 0xFF, 0xFF, 0x00, 0x01};
    EXPECT_FALSE(server.Serve(Bytes{0x08, 0x00, 0x04, 0x00, 0x00}, false));
    EXPECT_FALSE(server.Serve(read, false));
    EXPECT_FALSE(server.Serve(Bytes{0x08, 0x00, 0x01, 0x00, 0x00}, false));  // leaves, silently
    EXPECT_TRUE(server.Serve(read, false));

    EXPECT_FALSE(server.Serve(Bytes{0x06, 0xFF, 0xFF, 0x00, 0x01}, true));
    EXPECT_EQ(*server.Serve(read, false), (Bytes{0x03, 0x02, 0x00, 0x01}));  // but it was done
}

TEST(PduTest, CountersCountMessagesAndExceptions)
{
    TMeter meter(TMeterIdentity{});
    TPduServer server(meter);
    server.Serve(Bytes{0x03, 0x00, 0x01, 0x00, 0x01}, false);
    server.Serve(Bytes{0x2B}, false);
    server.CountCommError();
    EXPECT_EQ(*server.Serve(Bytes{0x08, 0x00, 0x0E, 0x00, 0x00}, false), (Bytes{0x08, 0x00, 0x0E, 0x00, 0x03}));
    EXPECT_EQ(*server.Serve(Bytes{0x08, 0x00, 0x0D, 0x00, 0x00}, false), (Bytes{0x08, 0x00, 0x0D, 0x00, 0x01}));
    EXPECT_EQ(*server.Serve(Bytes{0x08, 0x00, 0x0C, 0x00, 0x00}, false), (Bytes{0x08, 0x00, 0x0C, 0x00, 0x01}));
    server.Serve(Bytes{0x08, 0x00, 0x0A, 0x00, 0x00}, false);
    EXPECT_EQ(*server.Serve(Bytes{0x08, 0x00, 0x0C, 0x00, 0x00}, false), (Bytes{0x08, 0x00, 0x0C, 0x00, 0x00}));
}

TEST(DeviceSettingsTest, GoodSettings)
{
    const TDeviceSettings d = ParseDeviceSettings("address=12,baud=9600,parity=none,marker=XYZ,serial=AB1,"
                                          "delay=20,echo,badcrc=3,exception=4,gap=5,split=7,staleid,mode=ascii");
    EXPECT_EQ(d.address, 12);
    EXPECT_EQ(d.baud, 9600u);
    EXPECT_EQ(d.parity, TParity::None);
    EXPECT_EQ(d.marker, "XYZ");
    EXPECT_EQ(d.serial, "AB1");
    EXPECT_EQ(d.delayMs, 20);
    EXPECT_TRUE(d.faults.echo);
    EXPECT_EQ(d.faults.badCrc, 3);
    EXPECT_EQ(d.faults.exception, 4);
    EXPECT_EQ(d.faults.gapMs, 5);
    EXPECT_EQ(d.faults.splitMs, 7);
    EXPECT_TRUE(d.faults.staleId);
    EXPECT_EQ(d.framing, TFraming::Ascii);

    const TDeviceSettings defaults = ParseDeviceSettings("");
    EXPECT_EQ(defaults.address, 1);
    EXPECT_EQ(defaults.baud, 19200u);
    EXPECT_EQ(defaults.parity, TParity::Even);
    EXPECT_EQ(defaults.marker, "ARM");
    EXPECT_FALSE(defaults.faults.silent);
}

TEST(DeviceSettingsTest, BadSettingsNameTheKey)
{
    struct Row { const char* settings; const char* message; };
    const Row rows[] = {
        {"address=0", "address=0: must be between 1 and 247"},
        {"address=248", "address=248: must be between 1 and 247"},
        {"address=1x", "address=1x: not a number"},
        {"address=", "address=: not a number"},
        {"address", "address needs a value (address=...)"},
        {"baud=fast", "baud=fast: not a number"},
        {"parity=mark", "parity=mark: must be none, odd or even"},
        {"marker=ARMS", "marker=ARMS: must be exactly 3 characters"},
        {"serial=12345678901234567", "serial=12345678901234567: must be 1 to 16 characters"},
        {"badcrc=0", "badcrc=0: must be between 1 and 1000000"},
        {"exception=256", "exception=256: must be between 1 and 255"},
        {"silent=1", "silent takes no value"},
        {"colour=red", "unknown setting \"colour\""},
    };
    for (const Row& r : rows) {
        try {
            ParseDeviceSettings(r.settings);
            ADD_FAILURE() << r.settings << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), r.message);
        }
    }
}

}  // namespace
