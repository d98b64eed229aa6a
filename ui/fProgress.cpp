#include "fProgress.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

std::function<void(const QString& caption, int percent)> OnProgressMove;

namespace {
// The one progress window is a top-level window of its own: found among them, not kept.
TFormProgress* FindProgress() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<TFormProgress*>(w))
            return progress;
    return nullptr;
}
} // namespace

TFormProgress::TFormProgress(const QString& text, int total) : Text_(text), Total_(total) {
    setObjectName(QStringLiteral("FormProgress"));
    // A dialog frame without frame buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Выполнено"));
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    pbProgress->setTextVisible(false);
    pbProgress->setFixedSize(641, 16);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(pbProgress);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowTitle(Text_ + QStringLiteral(" 0%"));
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormProgress::OfferCancel(std::function<void()> onCancel) {
    OnCancel_ = std::move(onCancel);
    if (!CancelBtn) {
        CancelBtn = new QPushButton(QStringLiteral("Отменить"), this);
        CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
        connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelClicked(); });
        layout()->addWidget(CancelBtn);
        layout()->setAlignment(CancelBtn, Qt::AlignHCenter);
        // A layout shows a child added to a visible window only from the event loop.
        CancelBtn->show();
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    CancelBtn->setEnabled(true);
}

void TFormProgress::CancelClicked() {
    if (!OnCancel_ || !CancelBtn->isEnabled())
        return;
    CancelBtn->setEnabled(false);
    setWindowTitle(Text_ + QStringLiteral(" — отмена…"));
    const std::function<void()> cancel = OnCancel_;
    cancel();
}

void TFormProgress::reject() {
    // Esc cancels when a cancel is offered; the window itself stays until its owner closes it.
    if (OnCancel_)
        CancelClicked();
    else
        QDialog::reject();
}

int TFormProgress::Percent() const {
    return pbProgress->value();
}

void TFormProgress::SetPosition(int position) {
    if (position < 0 || Total_ == 0)
        return;
    const int percent = static_cast<int>(std::nearbyint(position * 100.0 / Total_));
    if (percent == pbProgress->value())
        return;
    pbProgress->setValue(percent);
    const QString caption = Text_ + QLatin1Char(' ') + QString::number(percent) + QLatin1Char('%');
    setWindowTitle(caption);
    if (OnProgressMove)
        OnProgressMove(caption, percent);
    // The events processed here may close this window: nothing touches it afterwards.
    QCoreApplication::processEvents();
}

void ProgressShow(const QString& text, int position, int total) {
    TFormProgress* progress = FindProgress();
    if (!progress) {
        progress = new TFormProgress(text, total);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, progress, [] { ProgressClose(); });
    }
    QPointer<TFormProgress> window = progress;
    window->SetPosition(position);
    if (window) {
        window->show();
        window->raise();
    }
}

void ProgressOfferCancel(std::function<void()> onCancel) {
    if (TFormProgress* progress = FindProgress())
        progress->OfferCancel(std::move(onCancel));
}

void ProgressClose() {
    delete FindProgress();
}

TFormProgress* ProgressWindow() {
    return FindProgress();
}
