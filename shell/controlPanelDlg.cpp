#include "shell/controlPanelDlg.h"

#include "settings/calibration.h"
#include "settings/configFile.h"
#include "settings/visionSettings.h"
#include "shell/commandIds.h"
#include "shell/releaseSlider.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Slider position of a level: level x 100 truncated toward zero. The small
// allowance keeps a level that came from a slider (29 x 0.01 is stored as
// 0.28999...) at its own position instead of one below.
int levelPosition(double level) {
    if (std::isnan(level))
        return 0;
    const double scaled = level * 100.0 + (level >= 0.0 ? 1e-9 : -1e-9);
    if (scaled > 1e9)
        return 1000000000;
    if (scaled < -1e9)
        return -1000000000;
    return static_cast<int>(scaled);
}

int sizePosition(std::uint32_t size) {
    return static_cast<int>(std::sqrt(static_cast<double>(size)));
}

constexpr int sliderIds[5] = {controlId::happy, controlId::sad, controlId::anger, controlId::surprise,
                              controlId::minSize};

} // namespace

void toggleVisionOn() {
    visionSettings.visionOn = !visionSettings.visionOn;
}

CControlPanelDlg::CControlPanelDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Talvenor Vision Controls"));
    setObjectName(QStringLiteral("100"));
    setModal(true);

    m_happy = levelPosition(visionSettings.happyLevel);
    m_sad = levelPosition(visionSettings.sadLevel);
    m_anger = levelPosition(visionSettings.angerLevel);
    m_surprise = levelPosition(visionSettings.surpriseLevel);
    m_minSize = sizePosition(visionSettings.minObjectSize);

    // Widgets are made in the panel's tab order.
    auto* segmentation = new QGroupBox(QStringLiteral("Segmentation"), this);
    QPushButton* startStop = MakeButton(controlId::startStop, QStringLiteral("Start/Stop"));
    QPushButton* reinitialise = MakeButton(controlId::reinitialise, QStringLiteral("Reinitialise"));
    auto* drawType = new QGroupBox(QStringLiteral("Draw Type"), this);
    QPushButton* box = MakeButton(controlId::box, QStringLiteral("Box"));
    QPushButton* cross = MakeButton(controlId::cross, QStringLiteral("Cross"));
    QPushButton* binary = MakeButton(controlId::binary, QStringLiteral("binary"));
    QPushButton* calibrate = MakeButton(controlId::calibrate, QStringLiteral("CALIBRATE"));
    QPushButton* reset = MakeButton(controlId::reset, QStringLiteral("RESET"));
    auto* emotions = new QGroupBox(QStringLiteral("Emotions"), this);
    QPushButton* reload = MakeButton(controlId::reloadConfig, QStringLiteral("Reload Config"));
    reload->setEnabled(false); // reads a layout the program does not write
    QPushButton* emotionsOnOff = MakeButton(controlId::emotionsOnOff, QStringLiteral("Emotions on/off"));
    auto* low = new QLabel(QStringLiteral("Low"), this);
    auto* high = new QLabel(QStringLiteral("High"), this);
    const char* levelNames[4] = {"Happy", "Sad", "Anger", "Surprise"};
    QLabel* levelLabels[4];
    for (int i = 0; i < 4; ++i) {
        levelLabels[i] = new QLabel(QString::fromLatin1(levelNames[i]), this);
        m_sliders[i] = MakeSlider(sliderIds[i]);
    }
    auto* sizeGroup = new QGroupBox(QStringLiteral("Minimum Object Size"), this);
    m_sliders[4] = MakeSlider(controlId::minSize);
    QPushButton* close = MakeButton(controlId::ok, QStringLiteral("Close Control Panel"));
    close->setDefault(true);
    close->setAutoDefault(true);

    // Left column.
    auto* segmentationLayout = new QVBoxLayout(segmentation);
    segmentationLayout->addWidget(startStop);
    segmentationLayout->addWidget(reinitialise);
    auto* drawTypeLayout = new QVBoxLayout(drawType);
    drawTypeLayout->addWidget(box);
    drawTypeLayout->addWidget(cross);
    drawTypeLayout->addWidget(binary);
    auto* left = new QVBoxLayout;
    left->addWidget(segmentation);
    left->addWidget(drawType);
    left->addWidget(calibrate);
    left->addWidget(reset);
    left->addStretch(1);

    // Right column.
    auto* emotionsLayout = new QGridLayout(emotions);
    auto* emotionButtons = new QVBoxLayout;
    emotionButtons->addWidget(reload);
    emotionButtons->addWidget(emotionsOnOff);
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addLayout(emotionButtons);
    centred->addStretch(1);
    emotionsLayout->addLayout(centred, 0, 0, 1, 2);
    auto* scale = new QHBoxLayout;
    scale->addWidget(low);
    scale->addStretch(1);
    scale->addWidget(high);
    emotionsLayout->addLayout(scale, 1, 1);
    for (int i = 0; i < 4; ++i) {
        emotionsLayout->addWidget(levelLabels[i], i + 2, 0);
        emotionsLayout->addWidget(m_sliders[i], i + 2, 1);
    }
    auto* sizeLayout = new QVBoxLayout(sizeGroup);
    sizeLayout->addWidget(m_sliders[4]);
    auto* right = new QVBoxLayout;
    right->addWidget(emotions);
    right->addWidget(sizeGroup);
    right->addStretch(1);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(columns);
    whole->addLayout(bottom);
    for (int i = 0; i < 5; ++i)
        m_sliders[i]->setMinimumWidth(i < 4 ? 130 : 170);
    setFixedSize(sizeHint());

    connect(box, &QPushButton::clicked, this, &CControlPanelDlg::OnBox);
    connect(cross, &QPushButton::clicked, this, &CControlPanelDlg::OnCross);
    connect(binary, &QPushButton::clicked, this, &CControlPanelDlg::OnBinary);
    connect(reload, &QPushButton::clicked, this, &CControlPanelDlg::OnReloadConfig);
    connect(emotionsOnOff, &QPushButton::clicked, this, &CControlPanelDlg::OnEmotionsOnOff);
    connect(reinitialise, &QPushButton::clicked, this, &CControlPanelDlg::OnReinitialise);
    connect(startStop, &QPushButton::clicked, this, &CControlPanelDlg::OnVisionOnOff);
    connect(calibrate, &QPushButton::clicked, this, &CControlPanelDlg::OnCalibrate);
    connect(reset, &QPushButton::clicked, this, &CControlPanelDlg::OnReset);
    connect(close, &QPushButton::clicked, this, &CControlPanelDlg::accept);
    connect(m_sliders[0], &CReleaseSlider::releasedCapture, this, &CControlPanelDlg::OnReleasedCaptureHappy);
    connect(m_sliders[1], &CReleaseSlider::releasedCapture, this, &CControlPanelDlg::OnReleasedCaptureSad);
    connect(m_sliders[2], &CReleaseSlider::releasedCapture, this, &CControlPanelDlg::OnReleasedCaptureAnger);
    connect(m_sliders[3], &CReleaseSlider::releasedCapture, this, &CControlPanelDlg::OnReleasedCaptureSurprise);
    connect(m_sliders[4], &CReleaseSlider::releasedCapture, this, &CControlPanelDlg::OnReleasedCaptureMinSize);

    DoDataExchange(false);
}

QPushButton* CControlPanelDlg::MakeButton(int id, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false); // Enter belongs to Close Control Panel
    return button;
}

CReleaseSlider* CControlPanelDlg::MakeSlider(int id) {
    auto* slider = new CReleaseSlider(this);
    slider->setObjectName(QString::number(id));
    return slider;
}

CReleaseSlider* CControlPanelDlg::Slider(int id) const {
    for (int i = 0; i < 5; ++i)
        if (sliderIds[i] == id)
            return m_sliders[i];
    return nullptr;
}

QPushButton* CControlPanelDlg::Button(int id) const {
    return findChild<QPushButton*>(QString::number(id));
}

void CControlPanelDlg::DoDataExchange(bool saveAndValidate) {
    int* members[5] = {&m_happy, &m_sad, &m_anger, &m_surprise, &m_minSize};
    for (int i = 0; i < 5; ++i) {
        if (saveAndValidate)
            *members[i] = m_sliders[i]->value();
        else
            m_sliders[i]->setValue(*members[i]);
    }
}

void CControlPanelDlg::OnBox() { visionSettings.drawBox = !visionSettings.drawBox; }
void CControlPanelDlg::OnCross() { visionSettings.drawCross = !visionSettings.drawCross; }
void CControlPanelDlg::OnBinary() { visionSettings.drawBinary = !visionSettings.drawBinary; }
void CControlPanelDlg::OnReloadConfig() { reloadSettings(); }
void CControlPanelDlg::OnEmotionsOnOff() { visionSettings.emotionsOn = !visionSettings.emotionsOn; }
void CControlPanelDlg::OnReinitialise() { visionSettings.reinitialiseRequested = true; }
void CControlPanelDlg::OnVisionOnOff() { toggleVisionOn(); }
void CControlPanelDlg::OnCalibrate() { runCalibration(); }

void CControlPanelDlg::OnReleasedCaptureHappy() {
    DoDataExchange(true);
    visionSettings.happyLevel = m_happy * 0.01;
}

void CControlPanelDlg::OnReleasedCaptureSad() {
    DoDataExchange(true);
    visionSettings.sadLevel = m_sad * 0.01;
}

void CControlPanelDlg::OnReleasedCaptureAnger() {
    DoDataExchange(true);
    visionSettings.angerLevel = m_anger * 0.01;
}

void CControlPanelDlg::OnReleasedCaptureSurprise() {
    DoDataExchange(true);
    visionSettings.surpriseLevel = m_surprise * 0.01;
}

void CControlPanelDlg::OnReleasedCaptureMinSize() {
    DoDataExchange(true);
    visionSettings.minObjectSize = static_cast<std::uint32_t>(std::pow(static_cast<double>(m_minSize), 2));
}

void CControlPanelDlg::OnReset() {
    visionSettings.happyLevel = 0.2;
    visionSettings.sadLevel = 0.5;
    visionSettings.angerLevel = 0.5;
    visionSettings.surpriseLevel = 0.5;
    visionSettings.minObjectSize = 100;
    m_happy = 20;
    m_sad = levelPosition(visionSettings.sadLevel);
    m_anger = levelPosition(visionSettings.angerLevel);
    m_surprise = levelPosition(visionSettings.surpriseLevel);
    m_minSize = sizePosition(visionSettings.minObjectSize);
    DoDataExchange(false);
}

void CControlPanelDlg::accept() {
    DoDataExchange(true);
    QDialog::accept();
}
