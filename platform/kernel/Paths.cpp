#include "platform/kernel/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string StateDirectory() {
    const char* dir = std::getenv("NORVANE_STATE_DIR");
    if (dir && *dir)
        return dir;
    return "/var/lib/norvane";
}

std::string ProgramPath() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(n));
    return path;
}

std::string ProgramDirectory() {
    std::string path = ProgramPath();
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SetCurrentDirectory(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

bool MakeDirectories(const std::string& path) {
    if (path.empty())
        return false;
    for (std::string::size_type pos = 1;; ++pos) {
        pos = path.find('/', pos);
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
            return false;
        if (pos == std::string::npos)
            break;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    return true;
}
