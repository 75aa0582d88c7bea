#pragma once

#include <QDialog>

class QLabel;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;

// The configuration dialog: the communication delay factor on a track bar from 1 to 50, and the
// GPIO map that --port gpio:CHIP uses when it names none. It holds no copy of either beyond its
// controls.
class TformConfig : public QDialog {
    Q_OBJECT
public:
    explicit TformConfig(QWidget* parent = nullptr);

    QSlider* tb;
    QLabel* lbTB;
    QPushButton* btnAccept;
    QLineEdit* edGpioMap;
    QCheckBox* cbSafePace;

    void tbChange();

protected:
    void showEvent(QShowEvent* event) override;
    void FormShow();
    void keyPressEvent(QKeyEvent* event) override;
};

extern TformConfig* formConfig;
