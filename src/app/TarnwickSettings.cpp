#include "TarnwickSettings.h"

#include "AtomicFile.h"

// Values are Latin-1 bytes passed through unchanged; no wide-character conversion is wanted.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <system_error>
#include <type_traits>
#include <variant>

namespace app {

namespace fs = std::filesystem;

struct SettingsFile::Ini {
    Ini() { ini.SetSpaces(false); }  // "key=value", as Windows writes it
    CSimpleIniA ini{false, false, false};
};

namespace {

constexpr std::uintmax_t MaxFileSize = 1024 * 1024;  // a settings file is a few hundred bytes
constexpr long long CardinalMax = std::numeric_limits<std::uint32_t>::max();

// Default of the file format, whatever the window holds (standard reading only).
constexpr int StandardBaudRateDefault = 8;
constexpr int StandardParityDefault = 2;
constexpr const char* IpAddressDefault = "192.168.2.1";
constexpr int TcpPortDefault = 502;
constexpr int StartModeDefault = 0;

// The file's numbers and switches, in the file's order: where each is kept, its range, and
// its default. One table drives reading, normalising and writing.
using Member = std::variant<int TarnwickSettings::*, std::uint32_t TarnwickSettings::*, bool TarnwickSettings::*>;
struct Field {
    std::string_view section;
    const char* key;
    Member member;
    long long lo = 0, hi = 1;
    // Read in a standard run too: with this default, or the window's value when none is given.
    bool standard = false;
    std::optional<long long> standardDefault;
    // The default whatever the run (instead of the window's value).
    std::optional<long long> fileDefault;
};

const Field Fields[] = {
    {SectionModbusSettings, "BaudRate", &TarnwickSettings::baudRate, 0, 15, true, StandardBaudRateDefault, {}},
    {SectionModbusSettings, "EchoQueryBeforeReply", &TarnwickSettings::echoQueryBeforeReply, 0, 1, true, {}, {}},
    {SectionModbusSettings, "DataBits", &TarnwickSettings::dataBits, 0, 1, false, {}, {}},
    {SectionModbusSettings, "Parity", &TarnwickSettings::parity, 0, 2, true, StandardParityDefault, {}},
    {SectionModbusSettings, "StopBits", &TarnwickSettings::stopBits, 0, 1, false, {}, {}},
    {SectionModbusSettings, "TransmissionMode", &TarnwickSettings::transmissionMode, 0, 1, false, {}, {}},
    {SectionModbusSettings, "FlowControl", &TarnwickSettings::flowControl, 0, 3, false, {}, {}},
    {SectionModbusSettings, "DTR", &TarnwickSettings::dtr, 0, 1, false, {}, {}},
    {SectionModbusSettings, "RTS", &TarnwickSettings::rts, 0, 1, false, {}, {}},
    {SectionModbusSettings, "SilentInterval", &TarnwickSettings::silentInterval, 0, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "ConnectionMode", &TarnwickSettings::connectionMode, 0, 1, false, {}, {}},
    {SectionModbusSettings, "RefetchDelay", &TarnwickSettings::refetchDelayMs, 0, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "SendTimeout", &TarnwickSettings::sendTimeoutMs, 0, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "ReceiveTimeout", &TarnwickSettings::receiveTimeoutMs, 0, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "MaxRetries", &TarnwickSettings::maxRetries, 1, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "TurnaroundDelay", &TarnwickSettings::turnaroundDelayMs, 0, CardinalMax, false, {}, {}},
    {SectionModbusSettings, "ThreadPriority", &TarnwickSettings::threadPriority, 0, 6, false, {}, {}},
    {SectionModbusTcp, "Port", &TarnwickSettings::tcpPort, 1, 65535, true, {}, TcpPortDefault},
};

long long ValueOf(const TarnwickSettings& s, const Member& m)
{
    return std::visit([&](auto p) { return static_cast<long long>(s.*p); }, m);
}

void SetValue(TarnwickSettings& s, const Member& m, long long v)
{
    std::visit([&](auto p) { s.*p = static_cast<std::remove_reference_t<decltype(s.*p)>>(v); }, m);
}

std::string sv(std::string_view s)
{
    return std::string(s);
}

std::optional<long long> parseInteger(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool validSlaveAddress(std::string_view text)
{
    const auto value = parseInteger(text);
    return value && *value >= 0 && *value <= 247;
}

std::string withoutControlChars(std::string_view text)
{
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F)
            out.push_back(ch);
    }
    return out;
}

class Reader {
public:
    Reader(const CSimpleIniA& ini, std::vector<SettingsIssue>* issues) : m_ini(ini), m_issues(issues) {}

    std::string text(std::string_view section, const char* key, const std::string& def) const
    {
        const char* raw = m_ini.GetValue(sv(section).c_str(), key, nullptr);
        return raw ? std::string(raw) : def;
    }

    std::string slaveAddress(std::string_view section, const char* key, const std::string& def) const
    {
        const char* raw = m_ini.GetValue(sv(section).c_str(), key, nullptr);
        if (!raw)
            return def;
        if (!validSlaveAddress(raw)) {
            report(section, key, raw, "is not a slave address from 0 to 247", def);
            return def;
        }
        return raw;
    }

    long long integer(std::string_view section, const char* key, long long def, long long lo,
                      long long hi) const
    {
        const char* raw = m_ini.GetValue(sv(section).c_str(), key, nullptr);
        if (!raw)
            return def;
        const auto value = parseInteger(raw);
        if (!value) {
            report(section, key, raw, "is not a whole number", std::to_string(def));
            return def;
        }
        if (*value < lo || *value > hi) {
            report(section, key, raw,
                   "is outside " + std::to_string(lo) + " to " + std::to_string(hi),
                   std::to_string(def));
            return def;
        }
        return *value;
    }

    bool boolean(std::string_view section, const char* key, bool def) const
    {
        const char* raw = m_ini.GetValue(sv(section).c_str(), key, nullptr);
        if (!raw)
            return def;
        const auto value = parseInteger(raw);
        if (!value) {
            report(section, key, raw, "is not 0 or 1", def ? "1" : "0");
            return def;
        }
        return *value != 0;
    }

private:
    void report(std::string_view section, const char* key, const char* raw, const std::string& what,
                const std::string& used) const
    {
        if (!m_issues)
            return;
        m_issues->push_back({sv(section), key, raw,
                             "[" + sv(section) + "] " + key + "=\"" + raw + "\" " + what + "; "
                                 + (used.empty() ? "\"\"" : used) + " is used instead."});
    }

    const CSimpleIniA& m_ini;
    std::vector<SettingsIssue>* m_issues;
};

// Also folds the library's two blank lines between sections into one.
std::string toCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;  // the '\n' that follows emits the pair
        if (text[i] == '\n') {
            if (out.size() >= 4 && out.compare(out.size() - 4, 4, "\r\n\r\n") == 0)
                continue;
            out += "\r\n";
        }
        else
            out.push_back(text[i]);
    }
    return out;
}

// The text without the UTF-8 byte order marks that begin a line (after its indentation).
std::string withoutLineStartBoms(std::string_view text)
{
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    std::string out;
    out.reserve(text.size());
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size();) {
        if (lineStart && text.substr(i, bom.size()) == bom) {
            i += bom.size();
            continue;
        }
        const char c = text[i];
        lineStart = c == '\n' || c == '\r' || (lineStart && (c == ' ' || c == '\t'));
        out.push_back(text[i++]);
    }
    return out;
}

bool strayByte(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
}

// Empty when the bytes can be read as text, else why not. NUL bytes at the very end, which an
// interrupted write leaves behind, do not count.
std::string binaryProblem(std::string_view text)
{
    std::string_view body = text;
    while (!body.empty() && body.back() == '\0')
        body.remove_suffix(1);
    std::size_t stray = 0;
    std::size_t line = 1;
    for (char ch : body) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            ++line;
        if (c == 0) {
            return "it holds binary data (byte 0x00 in line " + std::to_string(line) + ")";
        }
        if (strayByte(c))
            ++stray;
    }
    // A few stray bytes in a text are skipped; a file of them is no text.
    if (stray * 10 > body.size())
        return "it holds binary data (" + std::to_string(stray) + " control bytes in "
               + std::to_string(body.size()) + ")";
    return {};
}

// What an INI reader of the original platform takes from a text: stray control bytes are
// dropped, and lines that are neither blank, a comment, a section "[...]" nor "key=value" are
// skipped; the rest is read.
struct CleanText {
    std::string text;
    std::vector<std::size_t> skippedLines;  // numbered from 1
    std::size_t strayBytes = 0;
};

CleanText cleanText(std::string_view raw)
{
    CleanText out;
    std::size_t lineNumber = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= raw.size(); ++i) {
        const bool end = i == raw.size() || raw[i] == '\n' || raw[i] == '\r';
        if (!end)
            continue;
        std::string line;
        for (char ch : raw.substr(lineStart, i - lineStart)) {
            if (strayByte(static_cast<unsigned char>(ch)) || ch == '\0')
                ++out.strayBytes;
            else
                line.push_back(ch);
        }
        std::string_view l = line;
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t'))
            l.remove_prefix(1);
        const bool usable = l.empty() || l.front() == ';' || l.front() == '#'
                            || (l.front() == '[' && l.find(']') != std::string_view::npos)
                            || (l.front() != '[' && l.front() != '=' && l.find('=') != std::string_view::npos);
        if (usable)
            out.text += line + "\n";
        else
            out.skippedLines.push_back(lineNumber);
        if (i < raw.size() && raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            ++i;
        ++lineNumber;
        lineStart = i + 1;
    }
    return out;
}

std::string skippedText(const CleanText& c)
{
    std::string what;
    if (!c.skippedLines.empty()) {
        what = c.skippedLines.size() == 1 ? "line " : "lines ";
        for (std::size_t i = 0; i < c.skippedLines.size() && i < 10; ++i)
            what += (i ? ", " : "") + std::to_string(c.skippedLines[i]);
        if (c.skippedLines.size() > 10)
            what += " and " + std::to_string(c.skippedLines.size() - 10) + " more";
        what += c.skippedLines.size() == 1 ? " is not a section, a key nor a comment"
                                           : " are not sections, keys nor comments";
    }
    if (c.strayBytes > 0) {
        if (!what.empty())
            what += ", and ";
        what += std::to_string(c.strayBytes) + (c.strayBytes == 1 ? " stray control byte" : " stray control bytes");
    }
    return what;
}

}  // namespace

std::vector<std::string> normalize(TarnwickSettings& s, const TarnwickSettings& fallback)
{
    std::vector<std::string> changes;
    s.slaveAddress = withoutControlChars(s.slaveAddress);
    if (!validSlaveAddress(s.slaveAddress)) {
        changes.push_back("SlaveAddress \"" + s.slaveAddress + "\" is not from 0 to 247; \""
                          + fallback.slaveAddress + "\" is used.");
        s.slaveAddress = fallback.slaveAddress;
    }
    s.comPort = withoutControlChars(s.comPort);
    s.ipAddress = withoutControlChars(s.ipAddress);
    for (const Field& f : Fields) {
        if (std::holds_alternative<bool TarnwickSettings::*>(f.member))
            continue;
        const long long value = ValueOf(s, f.member);
        if (value < f.lo || value > f.hi) {
            const long long used = ValueOf(fallback, f.member);
            changes.push_back(std::string(f.key) + " " + std::to_string(value) + " is out of range; "
                              + std::to_string(used) + " is used.");
            SetValue(s, f.member, used);
        }
    }
    s.startMode = s.startMode == 0 ? 0 : 1;
    return changes;
}

SettingsFile::SettingsFile(fs::path path) : m_path(std::move(path)), m_ini(std::make_unique<Ini>()) {}

SettingsFile::~SettingsFile() = default;

fs::path SettingsFile::backupPath() const
{
    fs::path p = m_path;
    p += ".bak";
    return p;
}

SettingsFile::LoadStatus SettingsFile::load()
{
    m_ini->ini.Reset();
    m_messages.clear();
    m_saveBlocked.clear();
    m_skipped = false;

    std::error_code ec;
    if (!fs::exists(m_path, ec) && !ec)
        return LoadStatus::Missing;

    std::string problem;      // junk: moved aside
    std::string readProblem;  // not readable: left alone
    std::string text;
    const auto size = fs::file_size(m_path, ec);
    if (ec) {
        readProblem = ec.message();
    } else if (size > MaxFileSize) {
        problem = "it is larger than 1 MiB";
    } else {
        std::ifstream in(m_path, std::ios::binary);
        if (!in.is_open())
            readProblem = "it cannot be opened";
        else
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            readProblem = "it cannot be read";
    }
    if (!readProblem.empty()) {
        // Never overwrite what we could not read.
        m_saveBlocked = "The settings file \"" + m_path.string()
                        + "\" was not saved: it could not be read at start-up.";
        m_messages.push_back("The settings file \"" + m_path.string() + "\" cannot be read ("
                             + readProblem + "); the default settings are used.");
        return LoadStatus::Unreadable;
    }

    // A BOM, as some Windows editors add, would otherwise become part of the first section name.
    // Files joined together carry one at the start of each part; one left inside would start a
    // key name, and once a save puts that key first it reads as the file's own BOM.
    text = withoutLineStartBoms(text);

    if (problem.empty())
        problem = binaryProblem(text);
    if (problem.empty()) {
        const CleanText clean = cleanText(text);
        if (m_ini->ini.LoadData(clean.text) < 0) {
            problem = "it is not an INI file";
        } else {
            m_skipped = !clean.skippedLines.empty() || clean.strayBytes > 0;
            if (m_skipped)
                m_messages.push_back("In the settings file \"" + m_path.string() + "\", "
                                     + skippedText(clean) + "; skipped, the rest is read.");
            return LoadStatus::Loaded;
        }
    }

    m_ini->ini.Reset();
    fs::rename(m_path, backupPath(), ec);
    if (ec) {
        m_saveBlocked = "The settings file \"" + m_path.string()
                        + "\" was not saved: it could not be read at start-up and could not be kept.";
        m_messages.push_back("The settings file \"" + m_path.string() + "\" cannot be used (" + problem
                             + ") and could not be renamed (" + ec.message()
                             + "); the default settings are used and the file is left as it is.");
    } else {
        m_messages.push_back("The settings file \"" + m_path.string() + "\" cannot be used (" + problem
                             + "). It was kept as \"" + backupPath().string()
                             + "\"; the default settings are used.");
    }
    return LoadStatus::Unparseable;
}

bool SettingsFile::hasSection(std::string_view section) const
{
    return m_ini->ini.GetSection(sv(section).c_str()) != nullptr;
}

TarnwickSettings SettingsFile::read(const TarnwickSettings& current, bool expert,
                                    std::vector<SettingsIssue>* issues) const
{
    const Reader r(m_ini->ini, issues);
    TarnwickSettings s = current;
    const auto ms = SectionModbusSettings;
    s.slaveAddress = r.slaveAddress(ms, "SlaveAddress", current.slaveAddress);
    s.comPort = withoutControlChars(r.text(ms, "ComPort", current.comPort));
    for (const Field& f : Fields) {
        if (!expert && !f.standard)
            continue;
        const long long def = f.fileDefault                    ? *f.fileDefault
                               : !expert && f.standardDefault ? *f.standardDefault
                                                              : ValueOf(current, f.member);
        if (std::holds_alternative<bool TarnwickSettings::*>(f.member))
            SetValue(s, f.member, r.boolean(f.section, f.key, def != 0));
        else
            SetValue(s, f.member, r.integer(f.section, f.key, def, f.lo, f.hi));
    }
    s.ipAddress = withoutControlChars(r.text(SectionModbusTcp, "IP Address", IpAddressDefault));
    s.startMode = r.integer(SectionModbusTcpRtu, "Start mode", StartModeDefault,
                            std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()) == 0
                      ? 0
                      : 1;
    return s;
}

void SettingsFile::write(const TarnwickSettings& in)
{
    TarnwickSettings s = in;
    normalize(s, TarnwickSettings{});
    CSimpleIniA& ini = m_ini->ini;
    const std::string ms = sv(SectionModbusSettings);
    const auto put = [&](const std::string& section, const char* key, const std::string& value) {
        ini.SetValue(section.c_str(), key, value.c_str());
    };
    const auto num = [](long long v) { return std::to_string(v); };
    put(ms, "SlaveAddress", s.slaveAddress);
    put(ms, "ComPort", s.comPort);
    const auto fields = [&](std::string_view section) {
        for (const Field& f : Fields)
            if (f.section == section)
                put(sv(section), f.key, num(ValueOf(s, f.member)));
    };
    fields(SectionModbusSettings);
    put(sv(SectionModbusTcp), "IP Address", s.ipAddress);
    fields(SectionModbusTcp);
    put(sv(SectionModbusTcpRtu), "Start mode", s.startsInRtu() ? "0" : "1");
}

std::string SettingsFile::save()
{
    if (!m_saveBlocked.empty())
        return m_saveBlocked;
    std::string text;
    if (m_ini->ini.Save(text) < 0)
        return "The settings file \"" + m_path.string() + "\" could not be prepared for writing.";
    const std::string err = writeFileAtomically(m_path, toCrLf(text));
    if (!err.empty())
        return "The settings file could not be written: " + err;
    return {};
}

std::string SettingsFile::backUp()
{
    std::ifstream in(m_path, std::ios::binary);
    if (!in.is_open())
        return "The settings file \"" + m_path.string() + "\" could not be opened for a backup.";
    const std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return "The settings file \"" + m_path.string() + "\" could not be read for a backup.";
    const std::string err = writeFileAtomically(backupPath(), contents);
    return err.empty() ? std::string() : "The settings file could not be backed up: " + err;
}

StartupSettings TarnwickStartupSettings(SettingsFile& file, const TarnwickSettings& current,
                                        bool expert)
{
    StartupSettings result;
    result.settings = current;
    const SettingsFile::LoadStatus status = file.load();
    result.messages = file.messages();

    // An unreadable file stays untouched, and the window keeps its own values.
    if (status == SettingsFile::LoadStatus::Unreadable)
        return result;

    // Every rewrite drops what was skipped: keep the file as the user left it first.
    bool backedUp = false;
    const auto backUp = [&] {
        if (backedUp)
            return;
        backedUp = true;
        const std::string err = file.backUp();
        result.messages.push_back(err.empty()
                                      ? "The settings file was kept as \"" + file.backupPath().string() + "\"."
                                      : err);
    };
    if (file.skippedAny())
        backUp();

    if (!file.hasSection(SectionModbusSettings)) {
        file.write(current);
        const std::string err = file.save();
        if (!err.empty()) {
            result.messages.push_back(err);
            result.writeFailed = true;
            return result;
        }
    }

    std::vector<SettingsIssue> issues;
    result.settings = file.read(current, expert, &issues);
    if (!issues.empty()) {
        for (const SettingsIssue& issue : issues)
            result.messages.push_back(issue.message);
        // The exit rewrite replaces the unusable values.
        backUp();
    }
    return result;
}

}  // namespace app
