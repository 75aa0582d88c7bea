#include "ui/Unit3.h"

#include "hw/gpio_port.h"
#include "ui/DialogPlace.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

TformConfig* formConfig = nullptr;

TformConfig::TformConfig(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("formConfig"));
    setWindowTitle(QStringLiteral("Configuration"));
    setFixedSize(329, 320);
    new DialogPlace(this);

    auto* caption = new QLabel(QStringLiteral("Communication delay factor:"), this);
    caption->setGeometry(16, 12, 200, 20);

    lbTB = new QLabel(this);
    lbTB->setObjectName(QStringLiteral("lbTB"));
    lbTB->setGeometry(220, 12, 60, 20);

    tb = new QSlider(Qt::Horizontal, this);
    tb->setObjectName(QStringLiteral("tb"));
    tb->setRange(1, 50);
    tb->setSingleStep(1);
    tb->setPageStep(2);
    tb->setTickInterval(5);
    tb->setTickPosition(QSlider::TicksBelow);
    tb->setGeometry(16, 40, 297, 30);
    connect(tb, &QSlider::valueChanged, this, &TformConfig::tbChange);

    auto* minLabel = new QLabel(QStringLiteral("MIN"), this);
    minLabel->setGeometry(16, 72, 40, 18);
    auto* maxLabel = new QLabel(QStringLiteral("MAX"), this);
    maxLabel->setGeometry(283, 72, 40, 18);

    auto* note = new QLabel(QStringLiteral("NOTE: Normal delay factor is less than 5. Increasing "
                                           "factor decrease processor read and write speed."),
                            this);
    note->setWordWrap(true);
    note->setGeometry(16, 96, 297, 48);

    // The board on a GPIO header: which line carries each of the board's lines.
    auto* gpio = new QLabel(QStringLiteral("GPIO map (--port gpio:CHIP without a map):"), this);
    gpio->setGeometry(16, 148, 297, 18);
    edGpioMap = new QLineEdit(this);
    edGpioMap->setObjectName(QStringLiteral("edGpioMap"));
    edGpioMap->setPlaceholderText(QString::fromLatin1(vardel::kGpioMapExample));
    edGpioMap->setGeometry(16, 170, 297, 26);
    lbGpioError = new QLabel(this);
    lbGpioError->setObjectName(QStringLiteral("lbGpioError"));
    lbGpioError->setWordWrap(true);
    lbGpioError->setStyleSheet(QStringLiteral("color: #b00000;"));
    lbGpioError->setGeometry(16, 200, 297, 40);
    lbGpioError->setVisible(false);
    connect(edGpioMap, &QLineEdit::textEdited, lbGpioError, &QLabel::hide);

    // AVR chips clocked as for a chip of unknown clock throughout, for long cables.
    cbSafePace = new QCheckBox(QStringLiteral("Safe AVR pace (long cables, slower)"), this);
    cbSafePace->setObjectName(QStringLiteral("cbSafePace"));
    cbSafePace->setGeometry(16, 246, 297, 24);

    btnAccept = new QPushButton(QStringLiteral("ACCEPT"), this);
    btnAccept->setObjectName(QStringLiteral("btnAccept"));
    btnAccept->setDefault(true);
    btnAccept->setGeometry(120, 282, 90, 28);
    connect(btnAccept, &QPushButton::clicked, this, &QDialog::accept);
}

void TformConfig::tbChange()
{
    lbTB->setText(QString::number(tb->value()));
}

void TformConfig::FormShow()
{
    tbChange();
}

void TformConfig::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TformConfig::done(int result)
{
    const std::string map = edGpioMap->text().trimmed().toStdString();
    std::string error;
    if (!map.empty() && !vardel::ParseGpioMap(map, error)) {
        lbGpioError->setText(QString::fromStdString("Not a GPIO map: " + error + "."));
        lbGpioError->setVisible(true);
        edGpioMap->setFocus();
        return;
    }
    lbGpioError->setVisible(false);
    QDialog::done(result);
}

// Escape does nothing in this dialog; Enter presses ACCEPT.
void TformConfig::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
