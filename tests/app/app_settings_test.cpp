// The settings file under a temporary XDG_CONFIG_HOME.

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
using Status = SettingsFile::LoadStatus;

namespace {

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string FullFile =
    "[Modbus Settings]\r\nSlaveAddress=17\r\nComPort=/dev/ttyUSB3\r\nBaudRate=6\r\n"
    "EchoQueryBeforeReply=0\r\nDataBits=0\r\nParity=1\r\nStopBits=1\r\nTransmissionMode=1\r\n"
    "FlowControl=2\r\nDTR=1\r\nRTS=1\r\nSilentInterval=1000\r\nConnectionMode=1\r\nRefetchDelay=7\r\n"
    "SendTimeout=500\r\nReceiveTimeout=3000\r\nMaxRetries=3\r\nTurnaroundDelay=250\r\nThreadPriority=5\r\n"
    "[Modbus TCP]\r\nIP Address=10.0.0.7\r\nPort=1502\r\n[Modbus TCP/RTU]\r\nStart mode=1\r\n";
const TarnwickSettings FullSettings{"17", "/dev/ttyUSB3", 6, false, 0, 1, 1, 1, 2, true, true, 1000, 1, 7,
                                    500, 3000, 3, 250, 5, "10.0.0.7", 1502, 1};  // as read in expert mode

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
    // Writes text as the file and starts as the window does, with no .bak from a previous row.
    StartupSettings start(const std::string& text, SettingsFile& file, const TarnwickSettings& current = {},
                          bool expert = false)
    {
        writeAll(m_file, text);
        fs::remove(m_file.string() + ".bak");
        return TarnwickStartupSettings(file, current, expert);
    }

    fs::path m_root;
    fs::path m_file;
};

}  // namespace

TEST_F(SettingsTest, FirstStartWritesTheFormValuesWithCrLfInKeyOrderAndTemplatesAreCopiedOnce)
{
    SettingsFile file(m_file);
    const StartupSettings s = TarnwickStartupSettings(file, TarnwickSettings{}, false);
    EXPECT_EQ(std::tuple(s.messages.size(), s.writeFailed, s.settings.startsInRtu()),
              std::tuple(0u, false, true));
    EXPECT_EQ(s.settings, TarnwickSettings{});

    // Every key in the documented order, CR LF only, a blank line between sections.
    EXPECT_EQ(readAll(m_file),
              "[Modbus Settings]\r\nSlaveAddress=0\r\nComPort=COM1\r\nBaudRate=8\r\nEchoQueryBeforeReply=1\r\nDataBits=1\r\n"
              "Parity=2\r\nStopBits=0\r\nTransmissionMode=0\r\nFlowControl=0\r\nDTR=0\r\nRTS=0\r\nSilentInterval=4\r\n"
              "ConnectionMode=0\r\nRefetchDelay=15\r\nSendTimeout=1000\r\nReceiveTimeout=2000\r\nMaxRetries=1\r\n"
              "TurnaroundDelay=100\r\nThreadPriority=3\r\n\r\n[Modbus TCP]\r\nIP Address=192.168.3.98\r\nPort=502\r\n\r\n"
              "[Modbus TCP/RTU]\r\nStart mode=0\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_file.parent_path()), {}), 1);  // no temporary left

    EXPECT_EQ(m_file, m_root / "Kaldor" / "Tarnwick.INI");  // the folder made and the file read above
    EXPECT_EQ(std::tuple(BuildDataFilePath("/etc/x/Tarnwick.INI"), BuildDataFilePath("sub/Tarnwick.INI")),
              std::tuple(fs::path("/etc/x/Tarnwick.INI"), fs::path("sub/Tarnwick.INI")));
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // invalid: falls back to $HOME/.config
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", (m_root / "home").c_str(), 1);
    EXPECT_EQ(BuildDataFilePath("Tarnwick.INI"), m_root / "home" / ".config" / "Kaldor" / "Tarnwick.INI");
    EXPECT_TRUE(fs::is_directory(m_root / "home" / ".config" / "Kaldor"));
    ::setenv("HOME", oldHome.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);

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

TEST_F(SettingsTest, StandardReadingTakesOnlyItsKeysExpertReadingAllAndMissingKeys)
{
    SettingsFile file(m_file);
    const StartupSettings s = start(FullFile, file);
    EXPECT_EQ(std::tuple(s.messages.size(), s.settings.startsInRtu()), std::tuple(0u, false));
    const TarnwickSettings standard{.slaveAddress = "17", .comPort = "/dev/ttyUSB3", .baudRate = 6,
                                    .echoQueryBeforeReply = false, .parity = 1, .ipAddress = "10.0.0.7",
                                    .tcpPort = 1502, .startMode = 1};
    EXPECT_EQ(s.settings, standard);

    SettingsFile expertFile(m_file);
    const StartupSettings e = start(FullFile, expertFile, {}, true);
    EXPECT_TRUE(e.messages.empty());
    EXPECT_EQ(e.settings, FullSettings);
    expertFile.write(e.settings);
    ASSERT_EQ(expertFile.save(), "");
    std::string same = FullFile;  // same keys, order and line ends; a blank line between sections
    for (const char* section : {"[Modbus TCP]", "[Modbus TCP/RTU]"})
        same.insert(same.find(section), "\r\n");
    EXPECT_EQ(readAll(m_file), same);

    // Missing keys: the file format's defaults, or in expert mode the current values.
    writeAll(m_file, "[Modbus Settings]\r\nComPort=/dev/ttyS1\r\n");
    const TarnwickSettings current{.baudRate = 6, .parity = 0, .stopBits = 1, .ipAddress = "1.2.3.4", .tcpPort = 600,
                                   .startMode = 1};
    SettingsFile part(m_file);
    ASSERT_EQ(part.load(), Status::Loaded);
    const TarnwickSettings d = part.read(current, false);
    EXPECT_EQ(std::tuple(d.baudRate, d.parity, d.ipAddress, d.tcpPort, d.startMode, d.comPort),
              std::tuple(8, 2, "192.168.2.1", 502, 0, "/dev/ttyS1"));
    const TarnwickSettings x = part.read(current, true);
    EXPECT_EQ(std::tuple(x.baudRate, x.parity, x.stopBits), std::tuple(6, 0, 1));
}

// A mark that began a later line once became part of a key (fuzzing), which the next start refused.
TEST_F(SettingsTest, LineEndsMarksAndCaseReadTheSameBeforeAndAfterASave)
{
    const std::string bom = "\xEF\xBB\xBF";
    std::string lf = FullFile;
    for (std::size_t i; (i = lf.find("\r\n")) != std::string::npos;)
        lf.erase(i, 1);
    std::string lower = FullFile;
    lower.replace(lower.find("[Modbus Settings]"), 17, "[modbus settings]");
    struct Case { const char* name; std::string text; bool readsAsFullFile; };
    for (const Case& c : {Case{"LF only", lf, true}, Case{"BOM", bom + FullFile, true}, Case{"lower case", lower, true},
                          Case{"fuzzer's: '[x' is no key", "\n" + bom + "[x=1\n", false},
                          Case{"indented", "\n  " + bom + "[x=1\n", false},
                          Case{"mark before a key", "\n" + bom + "Foo=1\n", false},
                          Case{"two files joined", bom + "[Other Tool]\r\nFoo=Bar\r\n" + bom + FullFile, true}}) {
        SCOPED_TRACE(c.name);
        writeAll(m_file, c.text);
        SettingsFile first(m_file);
        ASSERT_EQ(first.load(), Status::Loaded);
        const TarnwickSettings read = first.read({}, true);
        if (c.readsAsFullFile) {
            EXPECT_EQ(read, FullSettings);
        }
        first.write(read);
        ASSERT_EQ(first.save(), "");
        SettingsFile next(m_file);
        ASSERT_EQ(next.load(), Status::Loaded) << readAll(m_file);
        EXPECT_EQ(next.read({}, true), read);
    }
}

// Copied to .bak first, then read around (junk lines, bad values) or moved aside (junk); the rewrite reads.
TEST_F(SettingsTest, DamagedFilesAreCopiedAsideAndReadAroundOrReplaced)
{
    const std::string head = "[Modbus Settings]\r\n", tail = "ComPort=/dev/ttyUSB1\r\nSlaveAddress=5\r\n";
    const std::string skipped = " is not a section, a key nor a comment; skipped, the rest is read";
    const TarnwickSettings acm{.comPort = "/dev/ttyACM0"};
    // Keys the file lacks take the file format's defaults.
    const TarnwickSettings usb1{.slaveAddress = "5", .comPort = "/dev/ttyUSB1", .baudRate = 6,
                                .ipAddress = "192.168.2.1"};
    TarnwickSettings usb1At4 = usb1;
    usb1At4.baudRate = 4;
    struct Row {
        const char* name;
        std::string text;
        TarnwickSettings expected;
        std::vector<std::string> messages;  // a part of each, in order; one message: the file is moved aside
        bool expert = false;
    };
    const Row rows[] = {
        {"unusable values", head + "SlaveAddress=300\r\nComPort=/dev/ttyUSB0\r\nBaudRate=abc\r\nParity=7\r\n"
                            "EchoQueryBeforeReply=yes\r\nMaxRetries=0\r\n[Modbus TCP]\r\nPort=99999\r\n"
                            "IP Address=10.1.1.1\r\n",
         {.comPort = "/dev/ttyUSB0", .ipAddress = "10.1.1.1"},  // the good values apply
         {"", "BaudRate=\"abc\" is not a whole number; 8 is used instead.", "", "", "", "", ""}, true},
        {"no equals sign", head + "BaudRate=6\r\nthis line has no equals sign\r\n" + tail, usb1,
         {"line 3" + skipped, ""}},
        {"empty key", head + "=orphan\r\nBaudRate=6\r\n" + tail, usb1, {"line 2" + skipped, ""}},
        {"unclosed section", head + "[Other\r\nBaudRate=6\r\n" + tail, usb1, {"line 2" + skipped, ""}},
        {"two junk lines", "junk\r\n" + head + "BaudRate=6\r\nmore junk\r\n" + tail, usb1,
         {"lines 1, 4 are not sections, keys nor comments; skipped", ""}},
        {"stray bytes", head + "BaudRate=\x01" "6\r\nComPort=/dev/tty\x7FUSB1\r\nSlaveAddress=5\r\n", usb1,
         {"2 stray control bytes; skipped, the rest is read", ""}},
        {"DOS end-of-file mark", head + "BaudRate=4\r\n" + tail + "\x1A", usb1At4,
         {"1 stray control byte; skipped", ""}},
        {"NUL bytes after the end", head + "BaudRate=4\r\n" + tail + std::string(64, '\0'), usb1At4,
         {"64 stray control bytes; skipped", ""}},
        {"NUL in a line", std::string("[Modbus Settings]\r\nBaudRate=6\r\n\0\x01\x02garbage", 33), acm,
         {"binary data"}},
        {"ELF", "\x7F" "ELF\x02\x01", acm, {"binary data"}},
        {"control bytes", std::string(400, '\x01') + FullFile, acm, {"binary data (400 control bytes"}},
        {"too large", std::string(1024 * 1024 + 1, 'x'), acm, {"larger than 1 MiB"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SettingsFile file(m_file);
        const StartupSettings s = start(r.text, file, acm, r.expert);
        EXPECT_EQ(s.settings, r.expected);
        ASSERT_EQ(s.messages.size(), r.messages.size());
        for (std::size_t i = 0; i < s.messages.size(); ++i)
            EXPECT_TRUE(has(s.messages[i], r.messages[i])) << s.messages[i];
        EXPECT_TRUE(has(s.messages.back(), "Tarnwick.INI.bak")) << s.messages.back();
        EXPECT_EQ(readAll(file.backupPath()), r.text);
        const std::string now = readAll(m_file);  // replaced, or kept as it was
        EXPECT_TRUE(r.messages.size() == 1 ? has(now, "ComPort=/dev/ttyACM0\r\n") : now == r.text) << now;
        file.write(s.settings);  // the rewrite at exit
        ASSERT_EQ(file.save(), "");
        EXPECT_EQ(readAll(file.backupPath()), r.text);
        EXPECT_TRUE(has(readAll(m_file), "BaudRate=" + std::to_string(s.settings.baudRate) + "\r\n"));
        SettingsFile again(m_file);
        const StartupSettings next = TarnwickStartupSettings(again, TarnwickSettings{}, false);
        EXPECT_TRUE(next.messages.empty()) << next.messages[0];
        EXPECT_EQ(next.settings, s.settings);
    }
}

TEST_F(SettingsTest, RewriteKeepsForeignLinesAndWrittenStringsCannotBreakTheFile)
{
    SettingsFile file(m_file);
    StartupSettings s = start("; kept comment\r\n[Other Tool]\r\nFoo=Bar\r\n[Modbus Settings]\r\nExtra=1\r\n"
                              "BaudRate=6\r\n", file);
    s.settings.comPort = "COM1\r\n[Injected]\r\nx=1";
    s.settings.ipAddress = "host\xB0";  // Latin-1 passes through unchanged
    s.settings.startMode = 5;
    file.write(s.settings);
    ASSERT_EQ(file.save(), "");
    const std::string text = readAll(m_file);
    for (const char* kept : {"; kept comment\r\n", "[Other Tool]\r\nFoo=Bar\r\n", "Extra=1\r\n", "BaudRate=6\r\n",
                             "ComPort=COM1[Injected]x=1\r\n", "IP Address=host\xB0\r\n", "Start mode=1\r\n"})
        EXPECT_TRUE(has(text, kept)) << kept;
    EXPECT_FALSE(has(text, "\n[Injected]"));
}

TEST_F(SettingsTest, FailedSaveAndUnreadableFileOverwriteNothing)
{
    writeAll(m_file, FullFile);
    SettingsFile file(m_file);
    ASSERT_EQ(file.load(), Status::Loaded);
    // A directory where the file should go makes the final rename fail, even for root.
    fs::rename(m_file, m_root / "saved");
    fs::create_directory(m_file);
    writeAll(m_file / "inside", "x");
    file.write(TarnwickSettings{});
    EXPECT_TRUE(has(file.save(), "could not be written"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_file.parent_path()), {}), 1);  // no temporary left
    EXPECT_EQ(readAll(m_file / "inside"), "x");

    SettingsFile dir(m_file);  // exists but cannot be read as a file
    const StartupSettings s = TarnwickStartupSettings(dir, TarnwickSettings{}, false);
    EXPECT_EQ(s.settings, TarnwickSettings{});
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_TRUE(has(s.messages[0], "cannot be read")) << s.messages[0];
    dir.write(TarnwickSettings{});
    EXPECT_NE(dir.save(), "");
    EXPECT_TRUE(fs::is_directory(m_file));
    EXPECT_EQ(readAll(m_file / "inside"), "x");
}

TEST(SettingsNormalize, OutOfRangeFieldsTakeTheFallback)
{
    TarnwickSettings s{.slaveAddress = "248", .baudRate = 16, .maxRetries = 0, .threadPriority = -1, .tcpPort = 0,
                       .startMode = -3};
    EXPECT_EQ(normalize(s).size(), 5u);
    const TarnwickSettings expected{.slaveAddress = "0", .baudRate = 8, .maxRetries = 1, .threadPriority = 3,
                                    .tcpPort = 502, .startMode = 1};
    EXPECT_EQ(s, expected);
    TarnwickSettings good{.slaveAddress = "247", .baudRate = 15};
    EXPECT_TRUE(normalize(good).empty());
}
