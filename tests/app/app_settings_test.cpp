#include "CommTool.h"
#include "TarnwickSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace app;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "tarnwick-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_root = tmpl;
        ::setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
        m_file = GetDataFilePath(std::string(SettingsFileName), m_root / "no-templates");
    }
    void TearDown() override
    {
        ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    std::vector<fs::path> folderEntries() const
    {
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(m_file.parent_path()))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_root;
    fs::path m_file;
};

const std::string FullFile =
    "[Modbus Settings]\r\nSlaveAddress=17\r\nComPort=/dev/ttyUSB3\r\nBaudRate=6\r\n"
    "EchoQueryBeforeReply=0\r\nDataBits=0\r\nParity=1\r\nStopBits=1\r\nTransmissionMode=1\r\n"
    "FlowControl=2\r\nDTR=1\r\nRTS=1\r\nSilentInterval=1000\r\nConnectionMode=1\r\nRefetchDelay=7\r\n"
    "SendTimeout=500\r\nReceiveTimeout=3000\r\nMaxRetries=3\r\nTurnaroundDelay=250\r\nThreadPriority=5\r\n"
    "[Modbus TCP]\r\nIP Address=10.0.0.7\r\nPort=1502\r\n[Modbus TCP/RTU]\r\nStart mode=1\r\n";

}  // namespace

TEST_F(SettingsTest, DataFileLivesInKaldorUnderXdgConfigHome)
{
    EXPECT_EQ(m_file, m_root / "Kaldor" / "Tarnwick.INI");
    EXPECT_TRUE(fs::is_directory(m_root / "Kaldor"));
    EXPECT_EQ(BuildDataFilePath("/etc/x/Tarnwick.INI"), fs::path("/etc/x/Tarnwick.INI"));
    EXPECT_EQ(BuildDataFilePath("sub/Tarnwick.INI"), fs::path("sub/Tarnwick.INI"));

    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // invalid: falls back to $HOME/.config
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", (m_root / "home").c_str(), 1);
    EXPECT_EQ(BuildDataFilePath("Tarnwick.INI"), m_root / "home" / ".config" / "Kaldor" / "Tarnwick.INI");
    EXPECT_TRUE(fs::is_directory(m_root / "home" / ".config" / "Kaldor"));
    ::setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(SettingsTest, TemplateIsCopiedOnFirstUseOnly)
{
    const fs::path templates = m_root / "share";
    fs::create_directories(templates);
    writeAll(templates / "Other.INI", "[Modbus TCP]\r\nPort=600\r\n");
    const fs::path copied = GetDataFilePath("Other.INI", templates);
    EXPECT_EQ(readAll(copied), "[Modbus TCP]\r\nPort=600\r\n");

    writeAll(copied, "mine");
    GetDataFilePath("Other.INI", templates);
    EXPECT_EQ(readAll(copied), "mine");

    EXPECT_FALSE(fs::exists(GetDataFilePath("Missing.INI", templates)));
}

TEST_F(SettingsTest, FirstStartWritesTheFormValuesWithCrLf)
{
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_FALSE(s.writeFailed);
    EXPECT_EQ(s.settings, TarnwickSettings{});
    EXPECT_TRUE(s.settings.startsInRtu());

    const std::string text = readAll(m_file);
    for (const char* line : {"[Modbus Settings]\r\n", "SlaveAddress=0\r\n", "BaudRate=8\r\n",
                             "EchoQueryBeforeReply=1\r\n", "Parity=2\r\n", "DTR=0\r\n",
                             "ReceiveTimeout=2000\r\n", "RefetchDelay=15\r\n", "[Modbus TCP]\r\n",
                             "IP Address=192.168.3.98\r\n", "Port=502\r\n", "[Modbus TCP/RTU]\r\n",
                             "Start mode=0\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        ASSERT_EQ(text[i - 1], '\r') << "bare LF at " << i;

    // Keys in the documented order.
    std::size_t last = 0;
    for (const char* key : {"SlaveAddress=", "ComPort=", "BaudRate=", "EchoQueryBeforeReply=", "DataBits=",
                            "Parity=", "StopBits=", "TransmissionMode=", "FlowControl=", "DTR=", "RTS=",
                            "SilentInterval=", "ConnectionMode=", "RefetchDelay=", "SendTimeout=",
                            "ReceiveTimeout=", "MaxRetries=", "TurnaroundDelay=", "ThreadPriority=",
                            "IP Address=", "Port=", "Start mode="}) {
        const std::size_t at = text.find(std::string("\n") + key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_EQ(folderEntries(), std::vector<fs::path>{"Tarnwick.INI"});  // no temporary left
}

TEST_F(SettingsTest, StandardReadingTakesOnlyItsKeys)
{
    writeAll(m_file, FullFile);
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);
    EXPECT_TRUE(s.messages.empty());
    TarnwickSettings expected;
    expected.slaveAddress = "17";
    expected.comPort = "/dev/ttyUSB3";
    expected.baudRate = 6;
    expected.echoQueryBeforeReply = false;
    expected.parity = 1;
    expected.ipAddress = "10.0.0.7";
    expected.tcpPort = 1502;
    expected.startMode = 1;
    EXPECT_EQ(s.settings, expected);
    EXPECT_FALSE(s.settings.startsInRtu());
}

TEST_F(SettingsTest, ExpertReadingTakesEveryKeyAndRoundTrips)
{
    writeAll(m_file, FullFile);
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, true);
    EXPECT_TRUE(s.messages.empty());
    const TarnwickSettings& t = s.settings;
    EXPECT_EQ(t.dataBits, 0);
    EXPECT_EQ(t.stopBits, 1);
    EXPECT_EQ(t.transmissionMode, 1);
    EXPECT_EQ(t.flowControl, 2);
    EXPECT_TRUE(t.dtr);
    EXPECT_TRUE(t.rts);
    EXPECT_EQ(t.silentInterval, 1000u);
    EXPECT_EQ(t.connectionMode, 1);
    EXPECT_EQ(t.refetchDelayMs, 7u);
    EXPECT_EQ(t.sendTimeoutMs, 500u);
    EXPECT_EQ(t.receiveTimeoutMs, 3000u);
    EXPECT_EQ(t.maxRetries, 3u);
    EXPECT_EQ(t.turnaroundDelayMs, 250u);
    EXPECT_EQ(t.threadPriority, 5);

    file.write(t);
    ASSERT_EQ(file.save(), "");
    std::string expected = FullFile;  // same keys, order and line ends; a blank line between sections
    for (const char* section : {"[Modbus TCP]", "[Modbus TCP/RTU]"})
        expected.insert(expected.find(section), "\r\n");
    EXPECT_EQ(readAll(m_file), expected);
}

TEST_F(SettingsTest, MissingKeysUseTheirDefaults)
{
    writeAll(m_file, "[Modbus Settings]\r\nComPort=/dev/ttyS1\r\n");
    TarnwickSettings current;
    current.baudRate = 6;
    current.parity = 0;
    current.stopBits = 1;
    current.ipAddress = "1.2.3.4";
    current.tcpPort = 600;
    current.startMode = 1;

    SettingsFile file(m_file);
    ASSERT_EQ(file.load(), SettingsFile::LoadStatus::Loaded);
    const TarnwickSettings standard = file.read(current, false);
    EXPECT_EQ(standard.baudRate, 8);  // the file format's own defaults, not the window's
    EXPECT_EQ(standard.parity, 2);
    EXPECT_EQ(standard.ipAddress, "192.168.2.1");
    EXPECT_EQ(standard.tcpPort, 502);
    EXPECT_EQ(standard.startMode, 0);
    EXPECT_EQ(standard.comPort, "/dev/ttyS1");

    const TarnwickSettings expert = file.read(current, true);
    EXPECT_EQ(expert.baudRate, 6);  // the connection's current values
    EXPECT_EQ(expert.parity, 0);
    EXPECT_EQ(expert.stopBits, 1);
}

TEST_F(SettingsTest, LfOnlyBomAndLowerCaseSectionsReadTheSame)
{
    std::string lf = FullFile;
    for (std::size_t i; (i = lf.find("\r\n")) != std::string::npos;)
        lf.erase(i, 1);
    std::string lower = FullFile;
    lower.replace(lower.find("[Modbus Settings]"), 17, "[modbus settings]");

    SettingsFile reference(m_file);
    writeAll(m_file, FullFile);
    reference.load();
    const TarnwickSettings expected = reference.read({}, true);

    for (const std::string& variant : {lf, "\xEF\xBB\xBF" + FullFile, lower}) {
        writeAll(m_file, variant);
        SettingsFile file(m_file);
        ASSERT_EQ(file.load(), SettingsFile::LoadStatus::Loaded);
        EXPECT_EQ(file.read({}, true), expected);
    }
}

// Found by fuzzing: a byte order mark that began a later line became the start of a key name;
// a save put that key first, and the next start took it for the file's BOM and refused the
// file it had just accepted. Now such a mark is dropped wherever it begins a line: a file is
// judged the same at the first start as after its own save.
TEST_F(SettingsTest, ByteOrderMarkStartingALaterLineIsJudgedBeforeTheSave)
{
    const std::string bom = "\xEF\xBB\xBF";
    SettingsFile reference(m_file);
    writeAll(m_file, FullFile);
    reference.load();
    const TarnwickSettings full = reference.read({}, true);

    using Status = SettingsFile::LoadStatus;
    struct Case {
        const char* name;
        std::string text;
        Status first;
        bool readsAsFullFile;
    };
    for (const Case& c : {Case{"fuzzer's: '[x' is no key", "\n" + bom + "[x=1\n", Status::Loaded, false},
                          Case{"indented", "\n  " + bom + "[x=1\n", Status::Loaded, false},
                          Case{"mark before a key", "\n" + bom + "Foo=1\n", Status::Loaded, false},
                          Case{"two files joined", bom + "[Other Tool]\r\nFoo=Bar\r\n" + bom + FullFile,
                               Status::Loaded, true}}) {
        SCOPED_TRACE(c.name);
        writeAll(m_file, c.text);
        SettingsFile first(m_file);
        ASSERT_EQ(first.load(), c.first);
        if (c.first != Status::Loaded)
            continue;
        const TarnwickSettings read = first.read({}, true);
        if (c.readsAsFullFile) {
            EXPECT_EQ(read, full);
        }
        first.write(read);
        ASSERT_EQ(first.save(), "");

        SettingsFile next(m_file);
        ASSERT_EQ(next.load(), Status::Loaded) << readAll(m_file);
        EXPECT_EQ(next.read({}, true), read);
    }
}

TEST_F(SettingsTest, UnusableValuesFallBackAndTheFileIsKept)
{
    const std::string text = "[Modbus Settings]\r\nSlaveAddress=300\r\nComPort=/dev/ttyUSB0\r\n"
                             "BaudRate=abc\r\nParity=7\r\nEchoQueryBeforeReply=yes\r\nMaxRetries=0\r\n"
                             "[Modbus TCP]\r\nPort=99999\r\nIP Address=10.1.1.1\r\n";
    writeAll(m_file, text);
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, true);

    EXPECT_EQ(s.settings.slaveAddress, "0");
    EXPECT_EQ(s.settings.baudRate, 8);
    EXPECT_EQ(s.settings.parity, 2);
    EXPECT_TRUE(s.settings.echoQueryBeforeReply);
    EXPECT_EQ(s.settings.maxRetries, 1u);
    EXPECT_EQ(s.settings.tcpPort, 502);
    EXPECT_EQ(s.settings.comPort, "/dev/ttyUSB0");  // good values still apply
    EXPECT_EQ(s.settings.ipAddress, "10.1.1.1");

    ASSERT_EQ(s.messages.size(), 7u);
    EXPECT_NE(s.messages[1].find("BaudRate=\"abc\" is not a whole number; 8 is used instead."),
              std::string::npos) << s.messages[1];
    EXPECT_NE(s.messages.back().find("Tarnwick.INI.bak"), std::string::npos);
    EXPECT_EQ(readAll(file.backupPath()), text);

    file.write(s.settings);  // the rewrite at exit
    ASSERT_EQ(file.save(), "");
    EXPECT_EQ(readAll(file.backupPath()), text);
    EXPECT_NE(readAll(m_file).find("BaudRate=8\r\n"), std::string::npos);
}

TEST_F(SettingsTest, JunkFileIsMovedAsideAndDefaultsAreUsed)
{
    struct Row { std::string text; std::string reason; };
    const std::vector<Row> rows = {
        {std::string("[Modbus Settings]\r\nBaudRate=6\r\n\0\x01\x02garbage", 33), "binary data"},
        {"\x7F" "ELF\x02\x01", "binary data"},
        {std::string(400, '\x01') + FullFile, "binary data (400 control bytes"},
        {std::string(1024 * 1024 + 1, 'x'), "larger than 1 MiB"},
    };
    for (const Row& r : rows) {
        writeAll(m_file, r.text);
        fs::remove(m_file.string() + ".bak");
        SettingsFile file(m_file);
        TarnwickSettings current;
        current.comPort = "/dev/ttyACM0";
        const StartupSettings s = TarnwickStartupSettings(file, current, false);

        EXPECT_EQ(s.settings, current) << r.reason;
        ASSERT_EQ(s.messages.size(), 1u) << r.reason;
        EXPECT_NE(s.messages[0].find(r.reason), std::string::npos) << s.messages[0];
        EXPECT_NE(s.messages[0].find("Tarnwick.INI.bak"), std::string::npos) << s.messages[0];
        EXPECT_EQ(readAll(file.backupPath()), r.text) << r.reason;
        EXPECT_NE(readAll(m_file).find("ComPort=/dev/ttyACM0\r\n"), std::string::npos) << r.reason;
    }
}

// As INI readers of the original platform do: a line that is no setting, or a stray byte, is
// skipped and the rest of the file is read. The file is copied aside before a rewrite drops them.
TEST_F(SettingsTest, JunkLinesAndStrayBytesAreSkippedAndTheRestIsRead)
{
    const std::string tail = "ComPort=/dev/ttyUSB1\r\nSlaveAddress=5\r\n";
    struct Row { const char* name; std::string text; std::string reason; int baudRate; };
    const std::vector<Row> rows = {
        {"no equals sign", "[Modbus Settings]\r\nBaudRate=6\r\nthis line has no equals sign\r\n" + tail,
         "line 3 is not a section, a key nor a comment", 6},
        {"empty key", "[Modbus Settings]\r\n=orphan\r\nBaudRate=6\r\n" + tail, "line 2", 6},
        {"unclosed section", "[Modbus Settings]\r\n[Other\r\nBaudRate=6\r\n" + tail, "line 2", 6},
        {"two junk lines", "junk\r\n[Modbus Settings]\r\nBaudRate=6\r\nmore junk\r\n" + tail,
         "lines 1, 4 are not sections", 6},
        {"stray bytes", "[Modbus Settings]\r\nBaudRate=\x01" "6\r\nComPort=/dev/tty\x7FUSB1\r\nSlaveAddress=5\r\n",
         "2 stray control bytes", 6},
        {"DOS end-of-file mark", "[Modbus Settings]\r\nBaudRate=4\r\n" + tail + "\x1A", "1 stray control byte", 4},
        {"NUL bytes after the end", "[Modbus Settings]\r\nBaudRate=4\r\n" + tail + std::string(64, '\0'),
         "64 stray control bytes", 4},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        writeAll(m_file, r.text);
        fs::remove(m_file.string() + ".bak");
        SettingsFile file(m_file);
        const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);

        EXPECT_EQ(s.settings.baudRate, r.baudRate);
        EXPECT_EQ(s.settings.comPort, "/dev/ttyUSB1");
        EXPECT_EQ(s.settings.slaveAddress, "5");
        ASSERT_EQ(s.messages.size(), 2u);
        EXPECT_NE(s.messages[0].find(r.reason), std::string::npos) << s.messages[0];
        EXPECT_NE(s.messages[0].find("skipped, the rest is read"), std::string::npos) << s.messages[0];
        EXPECT_NE(s.messages[1].find("Tarnwick.INI.bak"), std::string::npos) << s.messages[1];
        EXPECT_EQ(readAll(file.backupPath()), r.text);
        EXPECT_EQ(readAll(m_file), r.text);  // not moved aside

        file.write(s.settings);  // the rewrite at exit
        ASSERT_EQ(file.save(), "");
        SettingsFile again(m_file);
        const StartupSettings next = TarnwickStartupSettings(again, TarnwickSettings{}, false);
        EXPECT_TRUE(next.messages.empty()) << next.messages[0];
        EXPECT_EQ(next.settings, s.settings);
    }
}

TEST_F(SettingsTest, UnknownSectionsKeysAndCommentsSurviveARewrite)
{
    writeAll(m_file, "; kept comment\r\n[Other Tool]\r\nFoo=Bar\r\n[Modbus Settings]\r\nExtra=1\r\n"
                     "BaudRate=6\r\n");
    SettingsFile file(m_file);
    StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);
    file.write(s.settings);
    ASSERT_EQ(file.save(), "");
    const std::string text = readAll(m_file);
    for (const char* kept : {"; kept comment\r\n", "[Other Tool]\r\nFoo=Bar\r\n", "Extra=1\r\n", "BaudRate=6\r\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
}

TEST_F(SettingsTest, WrittenStringsCannotBreakTheFile)
{
    TarnwickSettings s;
    s.comPort = "COM1\r\n[Injected]\r\nx=1";
    s.ipAddress = "host\xB0";  // Latin-1 passes through unchanged
    s.startMode = 5;
    SettingsFile file(m_file);
    file.load();
    file.write(s);
    ASSERT_EQ(file.save(), "");
    const std::string text = readAll(m_file);
    EXPECT_EQ(text.find("\n[Injected]"), std::string::npos);
    EXPECT_NE(text.find("ComPort=COM1[Injected]x=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("IP Address=host\xB0\r\n"), std::string::npos);
    EXPECT_NE(text.find("Start mode=1\r\n"), std::string::npos);
}

TEST_F(SettingsTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    writeAll(m_file, FullFile);
    SettingsFile file(m_file);
    ASSERT_EQ(file.load(), SettingsFile::LoadStatus::Loaded);
    // A directory where the file should go makes the final rename fail, even for root.
    fs::rename(m_file, m_root / "saved");
    fs::create_directory(m_file);
    writeAll(m_file / "inside", "x");
    file.write(TarnwickSettings{});
    const std::string err = file.save();
    EXPECT_NE(err.find("could not be written"), std::string::npos) << err;
    EXPECT_EQ(folderEntries(), std::vector<fs::path>{"Tarnwick.INI"});
    EXPECT_EQ(readAll(m_file / "inside"), "x");
}

TEST_F(SettingsTest, UnreadableFileIsNeverOverwritten)
{
    fs::create_directory(m_file);  // exists but cannot be read as a file
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);
    EXPECT_EQ(s.settings, TarnwickSettings{});
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_NE(s.messages[0].find("cannot be read"), std::string::npos) << s.messages[0];
    file.write(TarnwickSettings{});
    EXPECT_NE(file.save(), "");
    EXPECT_TRUE(fs::is_directory(m_file));
}

TEST(SettingsNormalize, OutOfRangeFieldsTakeTheFallback)
{
    TarnwickSettings s;
    s.slaveAddress = "248";
    s.baudRate = 16;
    s.threadPriority = -1;
    s.tcpPort = 0;
    s.maxRetries = 0;
    s.startMode = -3;
    const auto changes = normalize(s);
    EXPECT_EQ(changes.size(), 5u);
    EXPECT_EQ(s.slaveAddress, "0");
    EXPECT_EQ(s.baudRate, 8);
    EXPECT_EQ(s.threadPriority, 3);
    EXPECT_EQ(s.tcpPort, 502);
    EXPECT_EQ(s.maxRetries, 1u);
    EXPECT_EQ(s.startMode, 1);

    TarnwickSettings good;
    good.slaveAddress = "247";
    good.baudRate = 15;
    EXPECT_TRUE(normalize(good).empty());
}
