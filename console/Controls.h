#pragma once
// Controls by number. Every control that has a number carries it as its `ctrlId` property
// (set in the dialog's .ui file), so the code names controls readably while tables, tests and
// the control inventory address them by number.

#include <QWidget>

inline constexpr const char* kControlIdProperty = "ctrlId";

// The control numbered `id` below `dialog`, or null.
QWidget* FindControl(const QWidget* dialog, int id);

// Whether the button numbered `id` below `dialog` is checked (false when there is none).
bool IsControlChecked(const QWidget* dialog, int id);
// Enables or disables, shows or hides the control numbered `id` below `dialog`, if any.
void EnableControl(const QWidget* dialog, int id, bool enabled);
void ShowControl(const QWidget* dialog, int id, bool shown);
