#pragma once
// Pictures of console windows for the scenario program and the gallery: each saved as a PNG in
// one folder, with "saved <path>|<title>" printed for every one written (the drivers read it),
// and a count of those that could not be written.

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QWidget;

class CShots {
public:
    // `say` prints one line of the program's report.
    CShots(QString folder, std::function<void(const std::string&)> say);

    // The window as it draws itself.
    bool Save(QWidget* window, const std::string& name);
    // The window under a title bar that shows `title` (the window's own when empty), as a
    // window manager would frame it (the virtual display has none). `popups` are menus open
    // over the window, drawn in order where they stand on the screen (on the desktop's colour
    // where they pass the window's edges).
    bool SaveWithTitle(QWidget* window, const std::string& name, const QString& title = {},
                       const std::vector<QWidget*>& popups = {});
    // Shows `window` on its own, saves it and closes it.
    void Shoot(QWidget* window, const char* name);

    int Failures() const { return m_failures; }
    void Fail() { ++m_failures; }

private:
    bool Write(const class QPixmap& picture, const std::string& name, const QString& title);

    QString m_folder;
    std::function<void(const std::string&)> m_say;
    int m_failures = 0;
};
