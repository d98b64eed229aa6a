#include "fAbout.h"
#include "uAbout.h"
#include "uDataCtrl.h"
#include "uDataPlaces.h"
#include "uModal.h"
#include "uTimeOut.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QLabel* CentredLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

TFormAbout::TFormAbout(const QString& version, const std::optional<QDateTime>& built,
                       const QStringList& places, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("О программе"));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(6);
    imgPicture = new QLabel(this);
    imgPicture->setObjectName(QStringLiteral("imgPicture"));
    imgPicture->setPixmap(Picture());
    imgPicture->setFixedSize(240, 180);
    layout->addWidget(imgPicture, 0, Qt::AlignHCenter);
    Lines_ = new QVBoxLayout;
    Lines_->setSpacing(4);
    lblPurpose = CentredLabel(QStringLiteral("lblPurpose"),
                              QStringLiteral("для настройки приборов серии УЛМАР"), this);
    lblVersion = CentredLabel(QStringLiteral("lblVersion"), QStringLiteral("Версия"), this);
    lblDateTime = CentredLabel(QStringLiteral("lblDateTime"), QStringLiteral("Компиляция"), this);
    for (QLabel* label : {lblPurpose, lblVersion, lblDateTime})
        Lines_->addWidget(label);
    // The folders, smaller and selectable, so that a path can be copied into a file manager.
    QLabel** placeLabels[] = {&lblDataDir, &lblWorkDir, &lblLogDir};
    const char* placeNames[] = {"lblDataDir", "lblWorkDir", "lblLogDir"};
    for (int i = 0; i < 3 && i < places.size(); ++i) {
        QLabel* label = CentredLabel(QString::fromLatin1(placeNames[i]), places.at(i), this);
        QFont small = label->font();
        if (small.pointSizeF() > 0)
            small.setPointSizeF(small.pointSizeF() * 0.85);
        label->setFont(small);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Lines_->addWidget(label);
        *placeLabels[i] = label;
    }
    layout->addLayout(Lines_);

    lblVersion->setText(QStringLiteral("Версия: ") + version);
    // A stamp that could not be read leaves the label as it was.
    if (built && built->isValid())
        lblDateTime->setText(QStringLiteral("От :") + ArchiveTextStamp(QtToDateTime(*built)));

    layout->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

QPixmap TFormAbout::Picture() {
    QPixmap pm(240, 180);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // The tank with the product.
    const QRectF tank(40, 70, 160, 100);
    p.setPen(QPen(QColor(70, 70, 70), 2));
    p.setBrush(QColor(235, 240, 245));
    p.drawRect(tank);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 120, 200));
    p.drawRect(QRectF(41, 130, 158, 39));
    QPainterPath wave;
    wave.moveTo(41, 130);
    for (int x = 41; x <= 199; x += 2)
        wave.lineTo(x, 130 + 2.5 * std::sin((x - 41) / 8.0));
    wave.lineTo(199, 134);
    wave.lineTo(41, 134);
    p.drawPath(wave);
    // The gauge on the roof: body and horn antenna.
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(200, 40, 40));
    p.drawRoundedRect(QRectF(104, 24, 32, 30), 4, 4);
    p.setBrush(QColor(160, 160, 170));
    p.drawRect(QRectF(112, 54, 16, 10));
    QPolygonF horn;
    horn << QPointF(112, 64) << QPointF(128, 64) << QPointF(136, 80) << QPointF(104, 80);
    p.drawPolygon(horn);
    // The microwave beam going down to the product and its echo.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(QColor(230, 120, 20, 220 - 40 * i), 2));
        const double y = 90 + 10 * i;
        const double half = 14 + 6 * i;
        p.drawArc(QRectF(120 - half, y - 8, 2 * half, 16), 200 * 16, 140 * 16);
    }
    p.setPen(QPen(QColor(20, 20, 20)));
    QFont f = p.font();
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, 0, 240, 22), Qt::AlignCenter, QStringLiteral("УЛМАР"));
    return pm;
}

int ShowAbout() {
    TFormAbout about(ProgramVersionText(), ProgramBuildTime(), DataPlaceLines(CurrentDataPlaces()),
                     QApplication::activeWindow());
    ExecModal(&about);
    return 0;
}
