#include "AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

std::string errnoText(const std::string& what, const std::filesystem::path& path)
{
    return what + " \"" + path.string() + "\": " + std::strerror(errno);
}

}  // namespace

std::string writeFileAtomically(const std::filesystem::path& path, std::string_view contents)
{
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    std::string tmpl = (dir / (path.filename().string() + ".tmp.XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return errnoText("Cannot create a temporary file in", dir);

    // Keep the old file's permissions; mkstemp's 0600 would hide the file from other users.
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);

    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string err = errnoText("Cannot write", tmpl);
            ::close(fd);
            ::unlink(tmpl.c_str());
            return err;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::string err = errnoText("Cannot write", tmpl);
        ::unlink(tmpl.c_str());
        return err;
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        std::string err = errnoText("Cannot replace", path);
        ::unlink(tmpl.c_str());
        return err;
    }
    // Make the rename itself durable; a failure here does not undo a completed write.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

}  // namespace app
