// Reading the settings file: the input is the file's bytes. Loaded, read in standard and expert
// form, normalised and written back; what the tool saves must read back as it was written.

#include "TarnwickSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path SettingsPath()
{
    static const fs::path path = [] {
        std::string dir = (fs::temp_directory_path() / "tarnwick-fuzz-XXXXXX").string();
        if (!mkdtemp(dir.data()))
            std::abort();
        return fs::path(dir) / "Tarnwick.INI";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fs::path path = SettingsPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    app::SettingsFile file(path);
    file.load();
    for (bool expert : {false, true}) {
        std::vector<app::SettingsIssue> issues;
        app::TarnwickSettings s = file.read(app::TarnwickSettings{}, expert, &issues);
        app::normalize(s);
        app::TarnwickSettings again = s;
        // A normalised value needs no second change.
        if (!app::normalize(again).empty() || !(again == s))
            std::abort();
        file.write(s);
        (void)file.read(app::TarnwickSettings{}, expert, nullptr);
    }
    // The expert form reads every key the tool writes.
    std::vector<app::SettingsIssue> issues;
    app::TarnwickSettings written = file.read(app::TarnwickSettings{}, true, &issues);
    app::normalize(written);
    file.write(written);
    if (file.save().empty()) {
        app::SettingsFile again(path);
        if (again.load() != app::SettingsFile::LoadStatus::Loaded)
            std::abort();
        std::vector<app::SettingsIssue> reread;
        const app::TarnwickSettings back = again.read(app::TarnwickSettings{}, true, &reread);
        if (!reread.empty() || !(back == written))
            std::abort();
    }
    return 0;
}
