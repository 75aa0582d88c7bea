#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QSlider;

// The configuration dialog: the communication delay factor on a track bar from 1 to 50. It holds
// no copy of the factor beyond the bar's position.
class TformConfig : public QDialog {
    Q_OBJECT
public:
    explicit TformConfig(QWidget* parent = nullptr);

    QSlider* tb;
    QLabel* lbTB;
    QPushButton* btnAccept;

    void tbChange();

protected:
    void showEvent(QShowEvent* event) override;
    void FormShow();
    void keyPressEvent(QKeyEvent* event) override;
};

extern TformConfig* formConfig;
