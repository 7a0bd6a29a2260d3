#pragma once
// The operator's control panel ("Talvenor Vision Controls"): start and stop
// the processing, choose what the overlay draws, switch emotions on and off,
// re-initialise the background model, set the four emotion levels and the
// minimum object size, reset them and run the calibration. Every control
// acts on visionSettings at once; there is no Apply and no undo.
//
// A slider changes its setting only when the mouse lets go of it; a move
// made with the keyboard waits for the next mouse release on that slider.
// Each control's object name is its control number (see commandIds.h).

#include <QDialog>

class CReleaseSlider;
class QPushButton;

class CControlPanelDlg : public QDialog {
    Q_OBJECT
public:
    explicit CControlPanelDlg(QWidget* parent = nullptr);

    // Slider positions, filled from the settings when the panel is built.
    int m_happy = 0;
    int m_sad = 0;
    int m_anger = 0;
    int m_surprise = 0;
    int m_minSize = 0;

    // true: sliders to members; false: members to sliders (which clamp to 0..100).
    void DoDataExchange(bool saveAndValidate);

    CReleaseSlider* Slider(int controlId) const;
    QPushButton* Button(int controlId) const;

    void OnBox();
    void OnCross();
    void OnBinary();
    void OnReloadConfig();
    void OnEmotionsOnOff();
    void OnReinitialise();
    void OnVisionOnOff();
    void OnCalibrate();
    void OnReleasedCaptureHappy();
    void OnReleasedCaptureSad();
    void OnReleasedCaptureAnger();
    void OnReleasedCaptureSurprise();
    void OnReleasedCaptureMinSize();
    void OnReset();

    // Close Control Panel (and Enter): the sliders go into the members; no
    // setting changes.
    void accept() override;

private:
    QPushButton* MakeButton(int id, const QString& caption);
    CReleaseSlider* MakeSlider(int id);

    CReleaseSlider* m_sliders[5] = {}; // happy, sad, anger, surprise, size
};

// What Vision On/Off and Start/Stop both do.
void toggleVisionOn();
