#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QSpinBox;

// How File ▸ Export Picture renders the picture it writes: the same settings give the same
// file as lumivex-render with --size, --supersample and --blur.
struct ExportSettings {
    int width = 1024;
    int height = 768;
    int supersample = 1; // k x k rays a pixel, 1 to kMaxSupersample
    bool blur = false;
};

// Asks for the size, the supersampling and the blur of an exported picture.
class ExportDialog : public QDialog {
    Q_OBJECT

public:
    ExportDialog(const ExportSettings& initial, QWidget* parent = nullptr);
    ExportSettings settings() const;

    QSpinBox* widthBox() const { return m_width; }
    QSpinBox* heightBox() const { return m_height; }
    QSpinBox* supersampleBox() const { return m_supersample; }
    QCheckBox* blurBox() const { return m_blur; }

private:
    void explain();

    QSpinBox* m_width;
    QSpinBox* m_height;
    QSpinBox* m_supersample;
    QCheckBox* m_blur;
    QLabel* m_rays;
};
