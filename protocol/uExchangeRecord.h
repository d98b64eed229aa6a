#pragma once
// One exchange on the line as the link saw it: the bytes as sent and as received, the timings,
// the outcome. The link fills one per exchange on the exchanging thread and hands it to its
// publisher; the link window, the traffic monitor and the request log read it, and the decoder
// renders it. A request log line read back gives one too (time, bytes, error words).
// A plain value: copy it freely between threads. Qt Core only.

#include <QByteArray>
#include <QString>

struct TExchangeRecord {
    quint64 Sequence = 0;   // 1, 2, … in the order of the exchanges; set by the monitor's ring
    qint64 TimeMs = 0;      // wall clock at the request, ms since the epoch
    int Device = 0;         // 0 gauge, 1 КАЛИСТ-1 current meter
    int Code = -1;          // the request code (a row of the wire table), -1 unknown
    QByteArray Request;     // bytes sent (checksum included)
    QByteArray Answer;      // bytes received (may be empty, cut or garbled)
    double DelayMs = -1;    // end of the request → first answer byte; -1 none
    double DurationMs = -1; // first → last answer byte; -1 none
    int Result = -1;        // the exchange's result: 0 an answer that is not an error answer
    int ErrorCode = 0;      // the device object's error code after the parse
    bool Accepted = false;  // the parser took the answer without recording a failure
    QString ResultText;     // the device object's result text, then the link's own errors
    // The transmitter finished the exchange (it did not fail on the port): the link window
    // counts and shows exactly these.
    bool Transmitted = false;
    // The exchange has a line in the request log: every gauge exchange that was sent or tried,
    // a current meter exchange only when an answer came and was parsed.
    bool Logged = false;
    // The link's own error words as the request log writes them after the frames
    // (" Error in Transmitter.SendString " and the port's trouble); empty when none.
    QString LinkErrors;
    // The port's parity once the exchange was done (a TSerialParity value); -1 unknown.
    int Parity = -1;
};
