#pragma once
// The data exchange between a window's controls (found by number, Controls.h) and the fields of
// the page or dialog that owns them. One exchange runs in one direction: loading shows the
// fields in the controls; saving reads the controls back into the fields and checks each value.
//
// A value that saving refuses shows the console's own message over the window (an exclamation
// box), puts the focus on the control with its text selected, and ends the exchange at once:
// the fields before it hold their new values, the refused field and those after it are
// untouched. The caller sees FALSE from UpdateData.
//
// Numbers and amounts are read exactly: integers in decimal with an optional sign and blanks
// around them, never wrapped (an unsigned field refuses "-1"); amounts through CCurrency, never
// through a double; date-times through CDateTime. Texts are byte strings shown as Latin-1.
//
// Controls: texts and numbers go to a QLineEdit, a QPlainTextEdit, an editable QComboBox or a
// QLabel; check boxes and radios are QAbstractButtons; DDX_CBString takes any QComboBox. A
// number naming no such control is a fault of the window: it is reported on the log and ends
// the exchange as a refusal without a message. GUI thread only.

#include "foundation/Currency.h"
#include "foundation/DateTime.h"
#include "platform/kernel/Types.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <type_traits>

class QWidget;

class CDataExchange {
public:
    CDataExchange(QWidget* window, bool saveAndValidate) : m_window(window), m_save(saveAndValidate) {}

    QWidget* Window() const { return m_window; }
    bool IsSaving() const { return m_save; }

    // The control numbered `id` below the window; a missing one ends the exchange (see above).
    QWidget* Control(int id);
    // Refuses the value of `control` (may be null): the message, the focus, the end of the
    // exchange. Pages use it for checks of their own inside DoDataExchange.
    [[noreturn]] void Fail(QWidget* control, const std::string& message);
    // Ends the exchange for a window fault (a missing control or one of the wrong kind).
    [[noreturn]] void Misconfigured(int id, const char* what);

    // Thrown by Fail and caught by UpdateData; nothing else sees it.
    struct Refusal {
        QWidget* control;
    };

private:
    QWidget* m_window;
    bool m_save;
};

// Runs `exchange` over `window`'s controls: saving when `save` is TRUE, loading otherwise.
// FALSE when a value was refused; `refused` (when given) then names the control, or null.
BOOL UpdateData(QWidget* window, BOOL save, const std::function<void(CDataExchange&)>& exchange,
                QWidget** refused = nullptr);

// The text forms of the date-time exchanges: a date and time, and a time of day (the
// locale's). Saving also takes the same with minutes only, and a date alone at midnight.
inline constexpr const char* kDateTimeFormat = "%Y-%m-%d %H:%M:%S";
inline constexpr const char* kTimeFormat = "%X";

// --- The exchanges -------------------------------------------------------------------------------
void DDX_Text(CDataExchange& dx, int id, std::string& value);

// Whole numbers, refused outside [min, max].
void DDX_Int64(CDataExchange& dx, int id, std::int64_t& value, std::int64_t min, std::int64_t max);
void DDX_UInt64(CDataExchange& dx, int id, std::uint64_t& value, std::uint64_t min, std::uint64_t max);

template <std::signed_integral T>
void DDX_Int(CDataExchange& dx, int id, T& value, std::type_identity_t<T> min = std::numeric_limits<T>::min(),
             std::type_identity_t<T> max = std::numeric_limits<T>::max()) {
    std::int64_t wide = value;
    DDX_Int64(dx, id, wide, min, max);
    value = static_cast<T>(wide);
}

template <std::unsigned_integral T>
void DDX_UInt(CDataExchange& dx, int id, T& value, std::type_identity_t<T> min = 0,
              std::type_identity_t<T> max = std::numeric_limits<T>::max()) {
    std::uint64_t wide = value;
    DDX_UInt64(dx, id, wide, min, max);
    value = static_cast<T>(wide);
}

// An amount with at most four decimal places, the whole range of CCurrency.
void DDX_Currency(CDataExchange& dx, int id, CCurrency& value);

// A finite number in [min, max], shown in its shortest exact form.
void DDX_Double(CDataExchange& dx, int id, double& value, double min = std::numeric_limits<double>::lowest(),
                double max = std::numeric_limits<double>::max());

// A date and time (kDateTimeFormat), and a time of day (kTimeFormat; saving gives that time on
// 1899-12-30). A value that names no moment shows as an empty box; an empty box then keeps it,
// and any other empty box is refused.
void DDX_DateTime(CDataExchange& dx, int id, CDateTime& value);
void DDX_Time(CDataExchange& dx, int id, CDateTime& value);

// A check box: 0 unchecked, 1 checked, 2 the third state of a tri-state box. Any other
// non-zero value shows as checked.
void DDX_Check(CDataExchange& dx, int id, BOOL& value);

// Check boxes that each edit one bit of a bit set: loading checks the boxes whose bit is set;
// saving makes the set of the checked boxes' bits alone (bits without a box are dropped).
struct CBitBox {
    int id;
    DWORD bit;
    const char* text;
};
void DDX_BitBoxes(CDataExchange& dx, std::span<const CBitBox> boxes, DWORD& bits);

// A radio group, its buttons numbered in `ids` in index order. A two-button group edits a flag:
// any non-zero value shows as the second button. A larger group edits an index: a value that
// names no button checks none. Saving with no button checked keeps the value as it was.
void DDX_Radio(CDataExchange& dx, std::initializer_list<int> ids, int& value);

// A combo box's text: an editable combo's text; otherwise the item of that exact text is
// selected, and saving takes the selected item's text (with none selected the value stays).
void DDX_CBString(CDataExchange& dx, int id, std::string& value);

// At most `count` characters in the text control `id` (after its DDX_Text). Loading limits the
// edit, but never below the text it already shows; saving refuses a longer text.
void DDV_MaxChars(CDataExchange& dx, int id, std::size_t count);
