#include "uCloseOnSignal.h"
#include "fMain.h"
#include "uStopSignals.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

void InstallCloseSignals() {
    InstallStopSignals({SIGTERM, SIGINT, SIGHUP});
}

void CloseOnStopSignal(TFormMain* window) {
    const int fd = StopSignalFd();
    if (fd < 0 || !window)
        return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, window);
    QObject::connect(
        notifier, &QSocketNotifier::activated, window, [notifier, w = QPointer<TFormMain>(window)] {
            // The pipe is never emptied: once is enough.
            notifier->setEnabled(false);
            std::fprintf(stderr, "ulmar: сигнал %d, программа закрывается\n", StopSignal());
            if (w)
                w->CloseUnasked();
            // A question or a progress window left open ends with its default
            // answer; the sequences behind it see the program closing.
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(top); dialog && dialog->isVisible())
                    dialog->reject();
            QCoreApplication::exit(0);
        });
}
