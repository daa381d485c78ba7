#pragma once
// The box styles and answers that the console's windows are written with: a box's flags are
// an OR of one button set, one icon and one default button. Plain numbers, so that code
// without widgets (the console session) can name them.

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
