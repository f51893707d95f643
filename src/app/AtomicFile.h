#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace app {

// Replaces path with contents so that a crash leaves either the old or the new file, never a
// truncated one: write a temporary file in the same folder, flush it to disk, rename it over.
// Returns an empty string on success, else what went wrong.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace app
