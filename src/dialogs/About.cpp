#include "About.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace tarnwick {

namespace {

// A link that acts like a button: reachable by Tab, pressed by Space or a screen reader's
// press action as well as by the mouse.
QPushButton* LinkButton(const char* name, const QString& text)
{
    auto* b = new QPushButton(text);
    b->setObjectName(QString::fromLatin1(name));
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QPushButton { color: #1d4f91; text-decoration: underline; border: none; "
                                    "text-align: left; padding: 0; }"));
    return b;
}

QLabel* NamedLabel(const char* name, const QString& text)
{
    auto* l = new QLabel(text);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

}  // namespace

TFormAbout::TFormAbout(const QString& versionText, std::function<void(const QUrl&)> openUrl, QWidget* parent)
    : QDialog(parent), openUrl_(std::move(openUrl))
{
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("About Tarnwick"));
    auto* grid = new QGridLayout(this);
    auto* image = NamedLabel("Image1", QStringLiteral("<span style=\"font-size:15pt; font-weight:700; "
                                                      "color:#1d4f91;\">VORTAN</span>"));
    image->setTextFormat(Qt::RichText);
    image->setAccessibleName(QStringLiteral("VORTAN"));
    Label1 = NamedLabel("Label1", QStringLiteral("Tarnwick - ("));
    Label3 = LinkButton("Label3", QString::fromLatin1(SupportEmail));
    Label4 = LinkButton("Label4", QString::fromLatin1(MakerWeb));
    Label3->setAccessibleName(QStringLiteral("Email: %1").arg(QString::fromLatin1(SupportEmail)));
    Label4->setAccessibleName(QStringLiteral("Web: %1").arg(QString::fromLatin1(MakerWeb)));
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    grid->addWidget(image, 0, 0, 1, 2);
    grid->addWidget(Label1, 1, 0, 1, 2);
    grid->addWidget(NamedLabel("Label20", QStringLiteral("KALDOR")), 2, 0, 1, 2);
    grid->addWidget(NamedLabel("Label5", QStringLiteral("Email:")), 3, 0);
    grid->addWidget(Label3, 3, 1);
    grid->addWidget(NamedLabel("Label6", QStringLiteral("Web: ")), 4, 0);
    grid->addWidget(Label4, 4, 1);
    grid->addWidget(ok, 5, 0, 1, 2, Qt::AlignHCenter);
    connect(Label3, &QPushButton::clicked, this, &TFormAbout::Label3Click);
    connect(Label4, &QPushButton::clicked, this, &TFormAbout::Label4Click);
    connect(ok, &QPushButton::clicked, this, &TFormAbout::Button1Click);
    FormCreate(versionText);
}

void TFormAbout::FormCreate(const QString& versionText)
{
    Label1->setText(Label1->text() + versionText + QStringLiteral(")"));
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + area.height() / 4 + 30);
    }
}

void TFormAbout::Label3Click() { openUrl_(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(SupportEmail))); }

void TFormAbout::Label4Click() { openUrl_(QUrl(QString::fromLatin1(MakerWeb))); }

void TFormAbout::Button1Click() { accept(); }

}  // namespace tarnwick
