#pragma once
// Image > Format: choose the camera's size and rate among those that fit
// the frame entry (at most 800 x 700).

#include "capture/sourceRequest.h"

#include <QDialog>

#include <vector>

class QListWidget;

class CFormatDialog : public QDialog {
    Q_OBJECT
public:
    CFormatDialog(const std::vector<videoMode>& modes, const videoMode& current, QWidget* parent = nullptr);

    videoMode SelectedMode() const;

private:
    std::vector<videoMode> m_modes;
    videoMode m_current;
    QListWidget* m_list;
};
