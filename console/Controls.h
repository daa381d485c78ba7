#pragma once
// Controls by number. Every control that has a number carries it as its `ctrlId` property
// (set in the dialog's .ui file), so the code names controls readably while tables, tests and
// the control inventory address them by number.

#include <QWidget>

inline constexpr const char* kControlIdProperty = "ctrlId";

// The control numbered `id` below `dialog`, or null.
QWidget* FindControl(const QWidget* dialog, int id);
