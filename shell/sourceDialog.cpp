#include "shell/sourceDialog.h"

#include "capture/listSources.h"
#include "capture/sourceRequest.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CSourceDialog::CSourceDialog(const QString& currentText, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Image Source"));
    m_cameraChoice = new QRadioButton(QStringLiteral("&Camera"), this);
    m_fileChoice = new QRadioButton(QStringLiteral("&File or image sequence"), this);
    m_pipelineChoice = new QRadioButton(QStringLiteral("&GStreamer pipeline"), this);
    m_demoChoice = new QRadioButton(QStringLiteral("&Demo scene"), this);
    m_cameras = new QComboBox(this);
    m_file = new QLineEdit(this);
    m_file->setPlaceholderText(QStringLiteral("clip.mp4 or frames/%05d.png"));
    m_pipeline = new QLineEdit(this);
    m_pipeline->setPlaceholderText(QStringLiteral("videotestsrc ! videoconvert"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);

    for (const cameraInfo& camera : listCameras()) {
        const QString path = QString::fromStdString(camera.devicePath);
        const QString name = QString::fromStdString(camera.name);
        m_cameras->addItem(path.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, path),
                           path.isEmpty() ? name : path);
    }
    if (m_cameras->count() == 0)
        m_cameras->addItem(QStringLiteral("No camera found"), QString());

    // Start from what is open now.
    const sourceRequest current = parseSourceText(currentText.toStdString());
    switch (current.kind) {
    case sourceKind::file:
    case sourceKind::imageSequence:
        m_fileChoice->setChecked(true);
        m_file->setText(currentText);
        break;
    case sourceKind::pipeline:
        m_pipelineChoice->setChecked(true);
        m_pipeline->setText(currentText);
        break;
    case sourceKind::demo:
        m_demoChoice->setChecked(true);
        break;
    default: {
        m_cameraChoice->setChecked(true);
        const int index = m_cameras->findData(QString::fromStdString(current.device));
        if (index >= 0)
            m_cameras->setCurrentIndex(index);
        break;
    }
    }

    auto* grid = new QGridLayout;
    grid->addWidget(m_cameraChoice, 0, 0);
    grid->addWidget(m_cameras, 0, 1, 1, 2);
    grid->addWidget(m_fileChoice, 1, 0);
    grid->addWidget(m_file, 1, 1);
    grid->addWidget(browse, 1, 2);
    grid->addWidget(m_pipelineChoice, 2, 0);
    grid->addWidget(m_pipeline, 2, 1, 1, 2);
    grid->addWidget(m_demoChoice, 3, 0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    resize(520, sizeHint().height());

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &CSourceDialog::Browse);
    for (QRadioButton* choice : {m_cameraChoice, m_fileChoice, m_pipelineChoice, m_demoChoice})
        connect(choice, &QRadioButton::toggled, this, &CSourceDialog::UpdateEnabled);
    UpdateEnabled();
}

QString CSourceDialog::SourceText() const {
    if (m_fileChoice->isChecked())
        return m_file->text().trimmed();
    if (m_pipelineChoice->isChecked())
        return m_pipeline->text().trimmed();
    if (m_demoChoice->isChecked())
        return QStringLiteral("demo");
    const QString device = m_cameras->currentData().toString();
    return device.isEmpty() ? QStringLiteral("camera") : device;
}

void CSourceDialog::Browse() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Video or image file"), m_file->text());
    if (!path.isEmpty()) {
        m_file->setText(path);
        m_fileChoice->setChecked(true);
    }
}

void CSourceDialog::UpdateEnabled() {
    m_cameras->setEnabled(m_cameraChoice->isChecked());
    m_file->setEnabled(m_fileChoice->isChecked());
    m_pipeline->setEnabled(m_pipelineChoice->isChecked());
}
