#pragma once

// The settings file "Tarnwick.INI" as data. The window fills a TarnwickSettings from its
// controls and connection, and applies one back; nothing here knows about widgets.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace app {

inline constexpr std::string_view SettingsFileName = "Tarnwick.INI";
inline constexpr std::string_view SectionModbusSettings = "Modbus Settings";
inline constexpr std::string_view SectionModbusTcp = "Modbus TCP";
inline constexpr std::string_view SectionModbusTcpRtu = "Modbus TCP/RTU";

// Enumerations are their ordinals, as stored in the file (see the connection's enums).
// The initial values are those of a freshly created window and connection.
struct TarnwickSettings {
    // "Modbus Settings"
    std::string slaveAddress = "0";      // text of the slave-address edit, 0..247
    std::string comPort = "COM1";
    int baudRate = 8;                    // 0 = 110 ... 8 = 19200 ... 15 = custom
    bool echoQueryBeforeReply = true;
    int dataBits = 1;                    // 0 = 7, 1 = 8
    int parity = 2;                      // 0 none, 1 odd, 2 even
    int stopBits = 0;                    // 0 = 1, 1 = 2
    int transmissionMode = 0;            // 0 RTU, 1 ASCII
    int flowControl = 0;                 // 0 none, 1 RTS toggle, 2 RTS/CTS, 3 DTR/DSR
    bool dtr = false;
    bool rts = false;
    std::uint32_t silentInterval = 4;    // characters (RTU) or ms (ASCII)
    int connectionMode = 0;              // 0 client, 1 server
    std::uint32_t refetchDelayMs = 15;
    std::uint32_t sendTimeoutMs = 1000;
    std::uint32_t receiveTimeoutMs = 2000;
    std::uint32_t maxRetries = 1;        // total attempts, at least 1
    std::uint32_t turnaroundDelayMs = 100;
    int threadPriority = 3;              // 0 idle ... 3 normal ... 6 time critical
    // "Modbus TCP"
    std::string ipAddress = "192.168.3.98";
    int tcpPort = 502;
    // "Modbus TCP/RTU"
    int startMode = 0;                   // 0 RTU, anything else TCP/IP

    bool startsInRtu() const { return startMode == 0; }
    bool operator==(const TarnwickSettings&) const = default;
};

// Brings every field into the range the connection accepts; a field outside it takes the
// value of fallback. Strings lose control characters, which would break the file's lines.
// Returns one line per field that was changed.
std::vector<std::string> normalize(TarnwickSettings& settings, const TarnwickSettings& fallback = {});

// One value of the file that could not be used.
struct SettingsIssue {
    std::string section;
    std::string key;
    std::string value;     // as found in the file
    std::string message;   // readable, names key, value and what was used instead
};

// The settings file, kept open for the whole run so that sections and keys this version does
// not know survive a rewrite.
//
// A line that is neither blank, a comment (';' or '#'), a section header "[...]" nor
// "key=value" is skipped, and so is a stray control byte (other than TAB, CR and LF); the rest
// of the file is read, and the file is copied to "<name>.bak" before it is rewritten. Only a
// file that cannot be read as text at all ("cannot be parsed": larger than 1 MiB, a NUL byte
// before its end, or more than one control byte in ten) is renamed to "<name>.bak", and the
// defaults are used. A single value that is not a number where one is expected, or out of
// range, only loses that value: it reads as its default, and the file is copied to
// "<name>.bak" before it is rewritten.
class SettingsFile {
public:
    enum class LoadStatus { Missing, Loaded, Unparseable, Unreadable };

    explicit SettingsFile(std::filesystem::path path);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path backupPath() const;

    // Never throws; what went wrong is in the returned status and messages().
    LoadStatus load();
    bool hasSection(std::string_view section) const;

    // As TarnwickReadSettings (standard) or TarnwickReadSettings_expert: keys that are not
    // read, or missing, keep the value of current (or the fixed default the file format
    // gives them). Unusable values are reported in issues.
    TarnwickSettings read(const TarnwickSettings& current, bool expert,
                          std::vector<SettingsIssue>* issues = nullptr) const;

    // As TarnwickWriteSettings: every key, in file order, into the in-memory file.
    void write(const TarnwickSettings& settings);
    // Writes the in-memory file atomically with CR LF line ends. Empty string on success.
    std::string save();

    // Copies the file as it is on disk to backupPath(). Empty string on success.
    std::string backUp();

    // Messages collected while loading, for the window to show.
    const std::vector<std::string>& messages() const { return m_messages; }
    // Whether loading skipped lines or stray bytes, which a rewrite would lose.
    bool skippedAny() const { return m_skipped; }

private:
    struct Ini;
    std::filesystem::path m_path;
    std::unique_ptr<Ini> m_ini;
    std::vector<std::string> m_messages;
    std::string m_saveBlocked;  // why saving would lose a file we could not back up
    bool m_skipped = false;
};

// Start-up with the settings file: load; a file without "Modbus Settings" (new or foreign)
// is first written with the current values; then read in the mode's form. A file with skipped
// lines or unusable values is backed up before anything overwrites it.
struct StartupSettings {
    TarnwickSettings settings;
    std::vector<std::string> messages;  // to show the user; empty when all went well
    bool writeFailed = false;           // the first-start write failed: the message says why
};
StartupSettings TarnwickStartupSettings(SettingsFile& file, const TarnwickSettings& current,
                                        bool expert);

}  // namespace app
