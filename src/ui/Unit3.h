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
    // What is wrong with the typed GPIO map; hidden while it is a map or empty.
    QLabel* lbGpioError;

    void tbChange();

protected:
    void showEvent(QShowEvent* event) override;
    void FormShow();
    void keyPressEvent(QKeyEvent* event) override;
    // However it is closed, the dialog stays open on a GPIO map that is not one, the typed
    // text kept and what is wrong with it shown under it.
    void done(int result) override;
};

extern TformConfig* formConfig;
