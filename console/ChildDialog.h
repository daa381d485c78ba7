#pragma once
// The one way a console window opens a dialog of its own and waits for it: a sheet's page its
// recipient, criterion, time slice, mapping, profile or confirm-password dialog, the tree its
// sheets, the application its option dialogs. The dialog runs window-modal on the window that
// opened it (its parent's window), so alerts and other top-level windows stay usable while it
// runs.
//
// Tests install an answerer: every ExecChildDialog then hands it the dialog instead of running
// it, and returns its answer. GUI thread only.

#include <functional>

class QDialog;

// Runs `dialog` until it closes; returns its result (QDialog::Accepted or Rejected).
int ExecChildDialog(QDialog& dialog);

// --- For tests ---------------------------------------------------------------------------------
// The answerer gets each dialog, made but not run (it may show it, fill its controls and press
// its buttons), and returns the result ExecChildDialog returns. An empty function brings the
// dialogs back.
using ChildDialogAnswerer = std::function<int(QDialog&)>;
void SetChildDialogAnswerer(ChildDialogAnswerer answerer);
