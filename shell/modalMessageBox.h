#pragma once
// The desktop's way of showing the core's messages (the size failure, the
// calibration prompts): a modal box with one OK button over the active
// window. Its event loop keeps delivering frame-ready events, so frames go on
// being processed while it is open.

#include <QMessageBox>
#include <QString>

class QWidget;

void showModalMessage(const QString& text, QMessageBox::Icon icon = QMessageBox::Information,
                      QWidget* parent = nullptr);

// Makes showMessageBox() use showModalMessage() for this process.
void installModalMessageBox();
