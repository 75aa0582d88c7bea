#include "ui/UnAbout.h"

#include "ui/DialogPlace.h"

#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About..."));
    // Taller than the picture's panel alone: the description gets the whole width below it, so
    // that every text is shown whole.
    setFixedSize(606, 459);
    new DialogPlace(this);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(2);
    panel->setGeometry(8, 8, 590, 404);
    auto* inner = new QFrame(panel);
    inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    inner->setLineWidth(1);
    inner->setGeometry(3, 3, 584, 398);

    ProgramIcon = new QLabel(inner);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(QPixmap::fromImage(picture()));
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setGeometry(6, 6, 345, 233);

    ProductName = new QLabel(QStringLiteral("Vardel v 1.2"), inner);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont title(titleFamily(), 26, QFont::Bold, true);
    ProductName->setFont(title);
    // Navy straight on the black panel cannot be read (about 1.3:1): the title sits on a light
    // plate of its own.
    ProductName->setStyleSheet(
        QStringLiteral("color: navy; background: #e0e0e0; border-radius: 6px; padding: 0 6px;"));
    ProductName->setGeometry(300, 20, 270, 50);

    Author = new QLabel(QStringLiteral("by Tobren"), inner);
    Author->setObjectName(QStringLiteral("Author"));
    Author->setFont(QFont(QStringLiteral("Verdana"), 10));
    Author->setStyleSheet(QStringLiteral("color: silver; background: transparent;"));
    Author->setGeometry(372, 76, 190, 20);

    auto* greeting =
        new QLabel(QStringLiteral("Greetings to all my friends from the workshop!"), inner);
    greeting->setObjectName(QStringLiteral("Greeting"));
    greeting->setFont(QFont(QStringLiteral("Verdana"), 10));
    greeting->setStyleSheet(QStringLiteral("color: silver; background: transparent;"));
    greeting->setGeometry(6, 244, 572, 18);

    auto* note = new QPlainTextEdit(inner);
    note->setObjectName(QStringLiteral("Comments"));
    note->setPlainText(QStringLiteral("This tool is based on an earlier programmer program,\n"
                                      "version 1.0, and keeps its way of driving the board."));
    readOnlyText(note);
    note->setStyleSheet(QStringLiteral("background: black; color: white;"));
    note->setGeometry(360, 104, 218, 134);

    auto* description = new QPlainTextEdit(inner);
    description->setObjectName(QStringLiteral("Description"));
    description->setPlainText(
        QStringLiteral("Atmel microcontroller and 24CXXX memory programmer. Programmer uses Corvid "
                       "modification programmer on LPT port.\n"
                       "More information: see the README that comes with the program.\n"
                       "The earlier version is described in the same place."));
    readOnlyText(description);
    description->setStyleSheet(QStringLiteral("background: maroon; color: white;"));
    description->setGeometry(6, 266, 572, 126);

    OKButton = new QPushButton(QStringLiteral("OK !"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    QFont bold = OKButton->font();
    bold.setBold(true);
    bold.setItalic(true);
    OKButton->setFont(bold);
    OKButton->setDefault(true);
    OKButton->setGeometry(508, 422, 90, 28);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::readOnlyText(QPlainTextEdit* text)
{
    // Read-only but enabled: a disabled box greys its text and cannot be scrolled.
    text->setReadOnly(true);
    text->setTabChangesFocus(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

QString TAboutBox::titleFamily()
{
    // Narrow, heavy faces first, then plain sans faces that every desktop has. Only installed
    // families are taken: asking for a missing one lets the font configuration substitute, on
    // some systems, a symbol font.
    static const char* const kFamilies[] = {"Impact",
                                            "Haettenschweiler",
                                            "Anton",
                                            "Oswald",
                                            "League Gothic",
                                            "DejaVu Sans Condensed",
                                            "Liberation Sans Narrow",
                                            "Nimbus Sans Narrow",
                                            "Arial",
                                            "Liberation Sans",
                                            "DejaVu Sans",
                                            "Nimbus Sans",
                                            "Noto Sans",
                                            "FreeSans"};
    for (const char* family : kFamilies) {
        const QString name = QString::fromLatin1(family);
        if (QFontDatabase::hasFamily(name) && !isSymbolFamily(name))
            return name;
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

bool TAboutBox::isSymbolFamily(const QString& family)
{
    const auto systems = QFontDatabase::writingSystems(family);
    return systems.contains(QFontDatabase::Symbol) || !systems.contains(QFontDatabase::Latin);
}

QImage TAboutBox::picture()
{
    QImage image(293, 149, QImage::Format_RGB888);
    image.fill(QColor(0, 40, 20));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The board, with its copper tracks.
    p.setBrush(QColor(20, 110, 60));
    p.setPen(QPen(QColor(200, 170, 60), 2));
    p.drawRoundedRect(10, 10, 273, 129, 8, 8);
    p.setPen(QPen(QColor(210, 160, 70), 3));
    for (int i = 0; i < 8; ++i)
        p.drawLine(20, 30 + i * 12, 90, 30 + i * 12);
    // The DB-25 connector of the parallel port.
    p.setBrush(QColor(170, 170, 180));
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(14, 24, 12, 100);
    // The chip in its socket.
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(110, 40, 150, 70);
    p.setPen(QPen(QColor(200, 200, 200), 3));
    for (int i = 0; i < 10; ++i) {
        p.drawLine(118 + i * 14, 40, 118 + i * 14, 30);
        p.drawLine(118 + i * 14, 110, 118 + i * 14, 120);
    }
    p.setPen(QColor(230, 230, 230));
    p.setFont(QFont(QStringLiteral("Monospace"), 11, QFont::Bold));
    p.drawText(QRect(110, 40, 150, 70), Qt::AlignCenter, QStringLiteral("AVR / 24Cxx"));
    p.end();
    return image;
}
