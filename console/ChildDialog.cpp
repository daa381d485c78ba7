#include "console/ChildDialog.h"

#include <QDialog>

namespace {
// GUI thread only, as the dialogs themselves.
ChildDialogAnswerer& Answerer() {
    static ChildDialogAnswerer* answerer = new ChildDialogAnswerer;  // usable while the process ends
    return *answerer;
}
}  // namespace

int ExecChildDialog(QDialog& dialog) {
    if (ChildDialogAnswerer answerer = Answerer())
        return answerer(dialog);
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

void SetChildDialogAnswerer(ChildDialogAnswerer answerer) { Answerer() = std::move(answerer); }
