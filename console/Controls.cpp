#include "console/Controls.h"

#include <QAbstractButton>

QWidget* FindControl(const QWidget* dialog, int id) {
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}

bool IsControlChecked(const QWidget* dialog, int id) {
    auto* button = qobject_cast<QAbstractButton*>(FindControl(dialog, id));
    return button != nullptr && button->isChecked();
}

void EnableControl(const QWidget* dialog, int id, bool enabled) {
    if (QWidget* control = FindControl(dialog, id))
        control->setEnabled(enabled);
}
