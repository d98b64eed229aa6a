#include "uCliSignals.h"
#include "uCliSession.h"
#include "uStopSignals.h"

#include <QJsonObject>
#include <cerrno>
#include <csignal>
#include <unistd.h>

void InstallCliSignals() {
    InstallStopSignals({SIGINT, SIGTERM});
}

bool CliInterrupted() {
    return StopSignalReceived();
}

int CliInterruptExit() {
    const int signal = StopSignal();
    return signal ? 128 + signal : 0;
}

int CliReportInterrupt(TCliOutput& out, const QString& what, const QString& note,
                       const QJsonObject& details) {
    const QString word = QStringLiteral("прервано");
    QJsonObject o = details;
    o.insert(QStringLiteral("signal"), StopSignal());
    out.Failure(CliError::Interrupted,
                (what.isEmpty() ? word : what + QStringLiteral(": ") + word) +
                    (note.isEmpty() ? QString() : QStringLiteral("; ") + note),
                o);
    return CliInterruptExit();
}

QString CliPollSummary(int polls, int unanswered) {
    const qint64 percent = polls ? (qint64(unanswered) * 200 + polls) / (2 * qint64(polls)) : 0;
    return QStringLiteral("опросов: %1, без ответа: %2 (%3 %)")
        .arg(polls)
        .arg(unanswered)
        .arg(percent);
}

TCliLineRead CliReadLine(int fd, QByteArray& line, int limit) {
    line.clear();
    for (;;) {
        if (!WaitReadableOrStop(fd))
            return TCliLineRead::Interrupted;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return line.isEmpty() ? TCliLineRead::End : TCliLineRead::Line;
        if (c == '\n')
            break;
        if (line.size() < limit)
            line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return TCliLineRead::Line;
}
