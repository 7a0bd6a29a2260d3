#include "shell/modalMessageBox.h"

#include "pipeline/messageBox.h"
#include "shell/mainFrame.h"

#include <QApplication>
#include <QWidget>

void showModalMessage(const QString& text, QMessageBox::Icon icon, QWidget* parent) {
    if (!parent)
        parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(icon, QString::fromLatin1(CMainFrame::applicationTitle), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void installModalMessageBox() {
    setMessageBoxHandler([](const std::string& text) { showModalMessage(QString::fromStdString(text)); });
}
