#include "CommTool.h"

#include "AtomicFile.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

#ifndef TARNWICK_DATA_DIR
#define TARNWICK_DATA_DIR "/usr/local/share/tarnwick"
#endif

namespace app {

namespace fs = std::filesystem;

namespace {

fs::path homeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

}  // namespace

fs::path GetCommonAppDataPath()
{
    fs::path base;
    // A relative XDG_CONFIG_HOME is invalid and ignored, so the file never depends on the cwd.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        base = xdg;
    else
        base = homeDir() / ".config";
    return base / "";
}

fs::path BuildDataFilePath(const std::string& fileName)
{
    const fs::path name(fileName);
    if (name.has_parent_path())
        return name;
    const fs::path dir = GetCommonAppDataPath() / "Kaldor" / "";
    std::error_code ec;
    // Also creates ~/.config itself, which a fresh account may not have yet.
    fs::create_directories(dir, ec);
    return dir / name;
}

fs::path GetDataFilePath(const std::string& fileName, const fs::path& templateDir)
{
    const fs::path result = BuildDataFilePath(fileName);
    std::error_code ec;
    if (fs::exists(result, ec) || ec)
        return result;
    const fs::path source = templateDir / fs::path(fileName).filename();
    if (!fs::is_regular_file(source, ec))
        return result;
    std::ifstream in(source, std::ios::binary);
    const std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return result;
    writeFileAtomically(result, contents);
    return result;
}

fs::path GetDataFilePath(const std::string& fileName)
{
    return GetDataFilePath(fileName, InstalledDataDir());
}

fs::path InstalledDataDir()
{
    return TARNWICK_DATA_DIR;
}

}  // namespace app
