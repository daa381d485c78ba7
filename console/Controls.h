#pragma once
// Controls by number. Every control that has a number carries it as its `ctrlId` property
// (set in the dialog's .ui file), so the code names controls readably while tables, tests and
// the control inventory address them by number.

#include <QWidget>

inline constexpr const char* kControlIdProperty = "ctrlId";

// The control numbered `id` below `dialog`, or null.
QWidget* FindControl(const QWidget* dialog, int id);
// Whether the check box or radio numbered `id` below `dialog` is checked (false when there is
// none).
bool IsControlChecked(const QWidget* dialog, int id);
// Enables or disables the control numbered `id` below `dialog`, when there is one.
void EnableControl(const QWidget* dialog, int id, bool enabled);
