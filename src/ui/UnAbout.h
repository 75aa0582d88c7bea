#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
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
    // The title's font family: the first installed one of a list of heavy sans faces, never a
    // symbol font.
    static QString titleFamily();
    static bool isSymbolFamily(const QString& family);

private:
    static void readOnlyText(QPlainTextEdit* text);
};

extern TAboutBox* AboutBox;
