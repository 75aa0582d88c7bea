#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: product, version and author on black.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Author;
    QPushButton* OKButton;

    // The picture: a programmer board with a chip in its socket, drawn at 293 x 149.
    static QImage picture();
};

extern TAboutBox* AboutBox;
