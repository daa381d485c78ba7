#pragma once
// The one message-box helper of every console window; the box styles and answers are in
// console/MessageBoxStyles.h.
//
// Every text is a byte string shown as Latin-1 plain text (nothing in it is markup), since texts
// from the engine and from other users reach boxes. A box without a title has the application's
// title.
//
// Tests install an answerer: every ConsoleMessageBox then goes to it instead of a window, and
// ConsoleBeep is counted without a sound.

#include "console/MessageBoxStyles.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QMessageBox;
class QWidget;

// A console byte string as shown on screen, and typed text back (characters outside Latin-1
// become '?').
QString ToDisplay(const std::string& bytes);
std::string FromDisplay(const QString& text);

// Shows a box over `parent` and returns the answer: modal on the parent's window, or on the
// whole application when the parent is null. An empty title gives the application's title.
int ConsoleMessageBox(QWidget* parent, const std::string& text, const std::string& title = {},
                      unsigned flags = MB::kOk);
// A sheet's question (MB::kSheetQuestion): true when it is answered Yes.
bool ConsoleSheetQuestion(QWidget* parent, const std::string& text, const std::string& title);

// A box with these contents, icon and buttons, not shown: for callers that show it their own
// way (alerts are non-modal). Owned by `parent`, or by the caller when parent is null.
QMessageBox* MakeMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                            unsigned flags);

// The warning sound of a box of that icon.
void ConsoleBeep(unsigned iconFlags = 0);

// --- For tests ---------------------------------------------------------------------------------
struct MessageBoxCall {
    QWidget* parent;
    std::string text;
    std::string title;  // as shown: the application's title when none was given
    unsigned flags;
};
using MessageBoxAnswerer = std::function<int(const MessageBoxCall&)>;
// Replaces every box by `answerer`; an empty function brings the boxes back.
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
// How many times ConsoleBeep was called since the process started.
std::uint64_t ConsoleBeepCount();
