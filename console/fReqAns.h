#pragma once
// Link window "Связь": the last exchange on the line in DisplayRadix, the program-wide request
// and answer counters with their percentages, and the serial port's settings.
// The window and its operations: user-interface thread. The exchange notification may come
// on any thread; it is handled on the user-interface thread in the order of the exchanges, at
// once when the exchange ran on that thread.

#include "devicelink/uTransmitter.h"
#include <QByteArray>
#include <QWidget>
#include <atomic>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;
class TDeviceLink;
class TMonitorPanel;
class TWindowContext;
template <class W> class TWindowSlot;

// Program-wide counters: they start at 0, outlive the window and are reset only by actStatClear.
extern std::atomic<qint64> RequestCount;
extern std::atomic<qint64> AnswerCount;

class TFormReqAns : public QWidget {
    Q_OBJECT
public:
    // link: the device link whose transmitter is watched; null: none.
    // The window deletes itself when closed. Restores its position, clears the texts, refreshes
    // and starts counting the transmitter's exchanges.
    explicit TFormReqAns(QWidget* parent = nullptr, TDeviceLink* link = nullptr);
    ~TFormReqAns() override;

    // Port group refresh, then statistics refresh and the archive's state (ControlRefresh and
    // after every exchange).
    void Refresh();
    void RefreshPort();
    void RefreshStatistics();
    void RefreshArchive();

    // The exchange handler's work (user-interface thread): counts, shows request and answer.
    void HandleExchange(const QByteArray& request, bool answered, const QByteArray& answer);

    QAction* actStatClear = nullptr; // "Сброс": counters to 0, texts cleared, refresh

    QLabel* lblComPort1 = nullptr;
    QLabel* lblBoudRate1 = nullptr;
    QLabel* lblDataBits1 = nullptr;
    QLabel* lblStopBits1 = nullptr;
    QLabel* lblParity1 = nullptr;
    QLabel* lblFlowControl1 = nullptr;
    // The port's trouble: why it could not be opened (in red), parity or rate refused.
    QLabel* lblPortStatus = nullptr;
    // The archive's trouble (in red): "Архив не записывается: <table>: <reason>".
    QLabel* lblArchiveStatus = nullptr;
    QLineEdit* stxReq = nullptr;
    QLineEdit* stxAns = nullptr;
    QLabel* lblReqCount = nullptr;
    QLabel* lblReqPercent = nullptr;
    QLabel* lblAnsCount = nullptr;
    QLabel* lblAnsPercent = nullptr;
    // "Монитор": shows and hides the decoded traffic monitor below the groups.
    QToolButton* btnMonitor = nullptr;
    TMonitorPanel* Monitor = nullptr;
    void ShowMonitor(bool shown);

    // Makes this window the one that counts and shows the transmitters' exchanges (the one
    // ShowFormReqAns opened last does), until it closes.
    void ReceiveExchanges();

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TDeviceLink* Link() const;
    void StatClear();

    TDeviceLink* Link_ = nullptr;
};

// actReqAnsShow: creates the window for the link when the slot holds none, keeps it there, makes
// it the one that receives the exchanges, shows it non-modally and returns it. The window
// follows the context's refresh (a null context: none).
TFormReqAns* ShowFormReqAns(TWindowSlot<TFormReqAns>& slot, QWidget* parent, TDeviceLink* link,
                            TWindowContext* context);

// Bytes as the link window shows them: radix 16 "01 A2", radix 10 "1 162"; false for any
// other radix (the window then keeps its text).
bool ReqAnsBytesText(const QByteArray& bytes, int radix, QString* text);
// A percentage with one decimal and the locale's separators ("75,0" on a Russian desktop).
QString ReqAnsPercentText(double percent);
// The link window's port status: the port's error, then "Порт не принял контроль четности
// Mark/Space" and "Скорость N недоступна, установлена M" when the open port refused them; one
// line each, empty while all is well.
QString PortStatusText(const TPortStatus& status);
