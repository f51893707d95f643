#pragma once

// Where the tool keeps its data files: $XDG_CONFIG_HOME/Kaldor/ (default ~/.config/Kaldor/).

#include <filesystem>
#include <string>

namespace app {

// The per-user configuration folder with a trailing separator: $XDG_CONFIG_HOME when it is
// an absolute path, else $HOME/.config.
std::filesystem::path GetCommonAppDataPath();

// A name with a directory part is returned unchanged. Otherwise the result lies in the
// "Kaldor" folder, which is created when missing (a failure is left to the later open).
std::filesystem::path BuildDataFilePath(const std::string& fileName);

// BuildDataFilePath, plus on first use a copy of the installed template of that name from
// templateDir, when there is one. A failed copy leaves no file behind and is otherwise ignored.
std::filesystem::path GetDataFilePath(const std::string& fileName,
                                      const std::filesystem::path& templateDir);
std::filesystem::path GetDataFilePath(const std::string& fileName);

// <prefix>/share/tarnwick, fixed at build time.
std::filesystem::path InstalledDataDir();

}  // namespace app
