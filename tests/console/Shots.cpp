#include "tests/console/Shots.h"

#include "console/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

CShots::CShots(QString folder, std::function<void(const std::string&)> say)
    : m_folder(std::move(folder)), m_say(std::move(say)) {}

bool CShots::Write(const QPixmap& picture, const std::string& name, const QString& title) {
    QString path = QDir(m_folder).filePath(QString::fromStdString(name));
    bool saved = picture.save(path, "PNG");
    m_say(std::string(saved ? "saved " : "FAILED ") + path.toStdString() + "|" + FromDisplay(title));
    m_failures += saved ? 0 : 1;
    return saved;
}

bool CShots::Save(QWidget* window, const std::string& name) {
    return Write(window->grab(), name, window->windowTitle());
}

bool CShots::SaveWithTitle(QWidget* window, const std::string& name, const QString& title,
                           const std::vector<QWidget*>& popups) {
    const QString caption = title.isEmpty() ? window->windowTitle() : title;
    const QPixmap content = window->grab();
    const int bar = window->fontMetrics().height() + 10;
    // The framed window's place on the screen, and what a popup adds to it beyond its edges.
    const QPoint origin = window->mapToGlobal(QPoint(0, 0)) - QPoint(0, bar);
    QRect area(origin, QSize(content.width(), content.height() + bar));
    for (QWidget* popup : popups)
        area = area.united(QRect(popup->mapToGlobal(QPoint(0, 0)), popup->size()));
    QPixmap framed(area.size());
    framed.fill(QColor(0, 128, 128));
    QPainter painter(&framed);
    const QPoint at = origin - area.topLeft();
    painter.fillRect(QRect(at, QSize(content.width(), bar)), QColor(0, 0, 128));
    painter.setPen(Qt::white);
    painter.drawText(QRect(at + QPoint(6, 0), QSize(content.width() - 12, bar)), Qt::AlignVCenter | Qt::AlignLeft,
                     caption);
    painter.drawPixmap(at + QPoint(0, bar), content);
    for (QWidget* popup : popups)
        painter.drawPixmap(popup->mapToGlobal(QPoint(0, 0)) - area.topLeft(), popup->grab());
    painter.end();
    return Write(framed, name, caption);
}

void CShots::Shoot(QWidget* window, const char* name) {
    window->show();
    QApplication::processEvents();
    Save(window, name);
    window->close();
}
