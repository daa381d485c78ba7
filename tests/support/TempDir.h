#pragma once
// Temporary folders for tests that touch the file system or the state folder.

#include <string>

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A temporary folder that NORVANE_STATE_DIR and XDG_CONFIG_HOME point to while the object
// lives; the previous values come back afterwards.
class TempStateDir : public TempDir {
public:
    TempStateDir();
    ~TempStateDir();

private:
    std::string m_oldState, m_oldConfig;
    bool m_hadState, m_hadConfig;
};
