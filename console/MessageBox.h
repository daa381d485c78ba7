#pragma once
// The one message-box helper of every console window, with the box styles and answers that the
// console's windows are written with: a box's flags are an OR of one button set, one icon and
// one default button.
//
// Every text is a byte string shown as Latin-1 plain text (nothing in it is markup), since texts
// from the engine and from other users reach boxes. A box without a title has the application's
// title.
//
// Tests install an answerer: every ConsoleMessageBox then goes to it instead of a window, and
// ConsoleBeep is counted without a sound.

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QMessageBox;
class QWidget;

namespace MB {
// Buttons.
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kOkCancel = 0x1;
inline constexpr unsigned kYesNo = 0x4;
// Icons.
inline constexpr unsigned kIconStop = 0x10;         // also "hand" and "error"
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconExclamation = 0x30;
inline constexpr unsigned kIconInformation = 0x40;  // also "asterisk"
// The second button is the default (No of Yes/No, Cancel of OK/Cancel).
inline constexpr unsigned kDefaultButton2 = 0x100;

// The sheets' questions before an unusable setting is applied: Yes/No, the stop icon, No the
// default.
inline constexpr unsigned kSheetQuestion = kYesNo | kIconStop | kDefaultButton2;

inline constexpr unsigned kButtonMask = 0xF;
inline constexpr unsigned kIconMask = 0xF0;
inline constexpr unsigned kDefaultMask = 0xF00;
}  // namespace MB

// Answers of a box.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

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
