#include "shell/formatDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

CFormatDialog::CFormatDialog(const std::vector<videoMode>& modes, const videoMode& current, QWidget* parent)
    : QDialog(parent), m_modes(modes), m_current(current) {
    setWindowTitle(QStringLiteral("Image Format"));
    m_list = new QListWidget(this);
    for (std::size_t i = 0; i < m_modes.size(); ++i) {
        m_list->addItem(QString::fromStdString(m_modes[i].describe()));
        if (m_modes[i] == current)
            m_list->setCurrentRow(static_cast<int>(i));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Sizes and rates of the camera (up to 800 x 700):"), this));
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

videoMode CFormatDialog::SelectedMode() const {
    const int row = m_list->currentRow();
    if (row < 0 || row >= static_cast<int>(m_modes.size()))
        return m_current;
    return m_modes[static_cast<std::size_t>(row)];
}
