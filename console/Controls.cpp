#include "console/Controls.h"

QWidget* FindControl(const QWidget* dialog, int id) {
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}
