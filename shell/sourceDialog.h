#pragma once
// Image > Source: choose what the video comes from: one of the cameras the
// system can see, a video or image file (or a numbered image sequence), a
// GStreamer pipeline description, or the built-in demo scene.

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QRadioButton;

class CSourceDialog : public QDialog {
    Q_OBJECT
public:
    explicit CSourceDialog(const QString& currentText, QWidget* parent = nullptr);

    // The source text for the choice made (the same forms as --source).
    QString SourceText() const;

private:
    void Browse();
    void UpdateEnabled();

    QRadioButton* m_cameraChoice;
    QRadioButton* m_fileChoice;
    QRadioButton* m_pipelineChoice;
    QRadioButton* m_demoChoice;
    QComboBox* m_cameras;
    QLineEdit* m_file;
    QLineEdit* m_pipeline;
};
