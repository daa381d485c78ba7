#include "console/DataExchange.h"

#include "console/ConsoleTexts.h"
#include "console/Controls.h"
#include "console/MessageBox.h"
#include "foundation/Format.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtGlobal>

#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

// Edits that hold a text: true when `control` is one (and `text` read or written).
bool ReadText(QWidget* control, QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        text = edit->text();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
        text = plain->toPlainText();
    else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->isEditable())
        text = combo->currentText();
    else if (auto* label = qobject_cast<QLabel*>(control))
        text = label->text();
    else
        return false;
    return true;
}

bool WriteText(QWidget* control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        // An edit cuts what it is given to its limit; the whole value shows (DDV_MaxChars).
        if (edit->maxLength() < text.size())
            edit->setMaxLength(static_cast<int>(text.size()));
        edit->setText(text);
    }
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
        plain->setPlainText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->isEditable())
        combo->setEditText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else
        return false;
    return true;
}

void SelectText(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
        plain->selectAll();
    else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
}

// The text control `id`: its text (saving), or `shown` written into it (loading).
QWidget* ExchangeText(CDataExchange& dx, int id, std::string& text, const std::string& shown) {
    QWidget* control = dx.Control(id);
    QString value;
    if (dx.IsSaving() ? !ReadText(control, value) : !WriteText(control, ToDisplay(shown)))
        dx.Misconfigured(id, "not a text control");
    if (dx.IsSaving())
        text = FromDisplay(value);
    return control;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A whole number in decimal with an optional sign; false when it is not one or does not fit.
template <class T>
bool ParseWhole(std::string_view text, T& value) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus)
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || (plus && text.front() == '-'))
        return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Digits with at most a sign before them: a number, though perhaps not one that fits.
bool IsNumeral(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

[[noreturn]] void RefuseRange(CDataExchange& dx, QWidget* control, const std::string& min,
                              const std::string& max) {
    dx.Fail(control, FormatText(ConsoleTexts::kEnterNumberInRange, min.c_str(), max.c_str()));
}

template <class T>
void ExchangeWhole(CDataExchange& dx, int id, T& value, T min, T max, const char* notANumber) {
    std::string text;
    QWidget* control = ExchangeText(dx, id, text, std::to_string(value));
    if (!dx.IsSaving())
        return;
    const std::string_view trimmed = Trimmed(text);
    T parsed = 0;
    if (!ParseWhole(trimmed, parsed)) {
        if (!IsNumeral(trimmed))
            dx.Fail(control, notANumber);
        // A numeral that does not parse lies outside the field's type.
        RefuseRange(dx, control, std::to_string(min), std::to_string(max));
    }
    if (parsed < min || parsed > max)
        RefuseRange(dx, control, std::to_string(min), std::to_string(max));
    value = parsed;
}

std::string ShortestText(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

// The date-time exchange in `format`; `alternatives` are also read when saving.
void ExchangeDateTime(CDataExchange& dx, int id, CDateTime& value, const char* format,
                      std::initializer_list<const char*> alternatives, const char* message,
                      const CDateTime& example) {
    const std::string shown = value.Format(format);
    std::string text;
    QWidget* control = ExchangeText(dx, id, text, shown);
    // A box left as loading showed it keeps the value's own count (and a value without a
    // moment, whose box is empty).
    if (!dx.IsSaving() || text == shown)
        return;
    std::optional<CDateTime> parsed = CDateTime::Parse(text, format);
    for (const char* alternative : alternatives) {
        if (!parsed)
            parsed = CDateTime::Parse(text, alternative);
    }
    if (!parsed)
        dx.Fail(control, FormatText(message, example.Format(format).c_str()));
    value = *parsed;
}

}  // namespace

QWidget* CDataExchange::Control(int id) {
    QWidget* control = FindControl(m_window, id);
    if (control == nullptr)
        Misconfigured(id, "no such control");
    return control;
}

void CDataExchange::Fail(QWidget* control, const std::string& message) {
    ConsoleMessageBox(m_window, message, {}, MB::kIconExclamation);
    if (control != nullptr) {
        control->setFocus(Qt::OtherFocusReason);
        SelectText(control);
    }
    throw Refusal{control};
}

void CDataExchange::Misconfigured(int id, const char* what) {
    qWarning("data exchange of %s: control %d: %s", m_window ? m_window->metaObject()->className() : "?", id, what);
    throw Refusal{nullptr};
}

BOOL UpdateData(QWidget* window, BOOL save, const std::function<void(CDataExchange&)>& exchange,
                QWidget** refused) {
    if (refused)
        *refused = nullptr;
    CDataExchange dx(window, save != FALSE);
    try {
        exchange(dx);
    } catch (const CDataExchange::Refusal& refusal) {
        if (refused)
            *refused = refusal.control;
        return FALSE;
    }
    return TRUE;
}

void DDX_Text(CDataExchange& dx, int id, std::string& value) { ExchangeText(dx, id, value, value); }

void DDX_Int64(CDataExchange& dx, int id, std::int64_t& value, std::int64_t min, std::int64_t max) {
    ExchangeWhole(dx, id, value, min, max, ConsoleTexts::kEnterWholeNumber);
}

void DDX_UInt64(CDataExchange& dx, int id, std::uint64_t& value, std::uint64_t min, std::uint64_t max) {
    ExchangeWhole(dx, id, value, min, max, ConsoleTexts::kEnterUnsignedNumber);
}

void DDX_Currency(CDataExchange& dx, int id, CCurrency& value) {
    std::string text;
    QWidget* control = ExchangeText(dx, id, text, value.Format());
    if (!dx.IsSaving())
        return;
    std::optional<CCurrency> parsed = CCurrency::Parse(text);
    if (!parsed) {
        const std::string min = CCurrency(std::numeric_limits<std::int64_t>::min()).Format();
        const std::string max = CCurrency(std::numeric_limits<std::int64_t>::max()).Format();
        dx.Fail(control, FormatText(ConsoleTexts::kEnterAmount, min.c_str(), max.c_str()));
    }
    value = *parsed;
}

void DDX_Double(CDataExchange& dx, int id, double& value, double min, double max) {
    std::string text;
    QWidget* control = ExchangeText(dx, id, text, ShortestText(value));
    if (!dx.IsSaving())
        return;
    std::string_view trimmed = Trimmed(text);
    const bool plus = !trimmed.empty() && trimmed.front() == '+';
    if (plus)
        trimmed.remove_prefix(1);
    double parsed = 0.0;
    auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), parsed);
    const bool whole = !trimmed.empty() && trimmed.front() != '+' && !(plus && trimmed.front() == '-') &&
                       end == trimmed.data() + trimmed.size();
    const bool tooLarge = error == std::errc::result_out_of_range;
    if (!whole || (error != std::errc() && !tooLarge) || (!tooLarge && !std::isfinite(parsed)))
        dx.Fail(control, ConsoleTexts::kEnterNumber);
    if (tooLarge || parsed < min || parsed > max)
        RefuseRange(dx, control, ShortestText(min), ShortestText(max));
    value = parsed;
}

void DDX_DateTime(CDataExchange& dx, int id, CDateTime& value) {
    static const CDateTime example = CDateTime::FromParts(2024, 3, 31, 17, 30, 0);
    ExchangeDateTime(dx, id, value, kDateTimeFormat, {"%Y-%m-%d %H:%M", "%Y-%m-%d"}, ConsoleTexts::kEnterDateTime,
                     example);
}

void DDX_Time(CDataExchange& dx, int id, CDateTime& value) {
    static const CDateTime example = CDateTime::FromTime(17, 30, 0);
    ExchangeDateTime(dx, id, value, kTimeFormat, {"%H:%M:%S", "%H:%M"}, ConsoleTexts::kEnterTime, example);
}

void DDX_Check(CDataExchange& dx, int id, BOOL& value) {
    auto* button = qobject_cast<QAbstractButton*>(dx.Control(id));
    if (button == nullptr || !button->isCheckable())
        dx.Misconfigured(id, "not a check box");
    auto* box = qobject_cast<QCheckBox*>(button);
    bool triState = box != nullptr && box->isTristate();
    if (dx.IsSaving()) {
        if (triState && box->checkState() == Qt::PartiallyChecked)
            value = 2;
        else
            value = button->isChecked() ? 1 : 0;
    } else if (triState && value == 2) {
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        button->setChecked(value != 0);
    }
}

void DDX_BitBoxes(CDataExchange& dx, std::span<const CBitBox> boxes, DWORD& bits) {
    DWORD taken = 0;
    for (const CBitBox& box : boxes) {
        BOOL checked = (bits & box.bit) != 0;
        DDX_Check(dx, box.id, checked);
        taken |= checked ? box.bit : 0;
    }
    if (dx.IsSaving())
        bits = taken;
}

void DDX_Radio(CDataExchange& dx, std::initializer_list<int> ids, int& value) {
    std::vector<QAbstractButton*> buttons;
    for (int id : ids) {
        auto* button = qobject_cast<QAbstractButton*>(dx.Control(id));
        if (button == nullptr || !button->isCheckable())
            dx.Misconfigured(id, "not a radio button");
        buttons.push_back(button);
    }
    const int count = static_cast<int>(buttons.size());
    if (dx.IsSaving()) {
        for (int index = 0; index < count; ++index) {
            if (buttons[index]->isChecked()) {
                value = index;
                return;
            }
        }
        return;
    }
    int shown = count == 2 ? (value != 0 ? 1 : 0) : value;
    for (int index = 0; index < count; ++index) {
        // An exclusive group cannot uncheck its checked button by itself.
        bool exclusive = buttons[index]->autoExclusive();
        buttons[index]->setAutoExclusive(false);
        buttons[index]->setChecked(index == shown);
        buttons[index]->setAutoExclusive(exclusive);
    }
}

void DDX_CBString(CDataExchange& dx, int id, std::string& value) {
    auto* combo = qobject_cast<QComboBox*>(dx.Control(id));
    if (combo == nullptr)
        dx.Misconfigured(id, "not a combo box");
    if (combo->isEditable()) {
        ExchangeText(dx, id, value, value);
        return;
    }
    if (!dx.IsSaving()) {
        combo->setCurrentIndex(combo->findText(ToDisplay(value), Qt::MatchExactly | Qt::MatchCaseSensitive));
        return;
    }
    if (combo->currentIndex() >= 0)
        value = FromDisplay(combo->currentText());
}

void DDV_MaxChars(CDataExchange& dx, int id, std::size_t count) {
    QWidget* control = dx.Control(id);
    QString text;
    if (!ReadText(control, text))
        dx.Misconfigured(id, "not a text control");
    const auto length = static_cast<std::size_t>(text.size());
    if (!dx.IsSaving()) {
        QLineEdit* edit = qobject_cast<QLineEdit*>(control);
        if (auto* combo = qobject_cast<QComboBox*>(control))
            edit = combo->lineEdit();
        if (edit != nullptr) {
            // Never below the text shown: a shorter limit would cut it off unseen.
            const std::size_t limit = std::max(count, length);
            edit->setMaxLength(static_cast<int>(std::min<std::size_t>(limit, std::numeric_limits<int>::max())));
        }
        return;
    }
    if (length > count)
        dx.Fail(control, FormatText(ConsoleTexts::kEnterFewerCharacters, count));
}
