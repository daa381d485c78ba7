#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/norvane-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

namespace {
bool Save(const char* name, std::string& out) {
    const char* value = std::getenv(name);
    if (value)
        out = value;
    return value != nullptr;
}
void Restore(const char* name, bool had, const std::string& value) {
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}
}  // namespace

TempStateDir::TempStateDir() {
    m_hadState = Save("NORVANE_STATE_DIR", m_oldState);
    m_hadConfig = Save("XDG_CONFIG_HOME", m_oldConfig);
    setenv("NORVANE_STATE_DIR", (Path() + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Path() + "/config").c_str(), 1);
}

TempStateDir::~TempStateDir() {
    Restore("NORVANE_STATE_DIR", m_hadState, m_oldState);
    Restore("XDG_CONFIG_HOME", m_hadConfig, m_oldConfig);
}
