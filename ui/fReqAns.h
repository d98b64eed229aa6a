#pragma once
// Link window "Связь": the last exchange on the line in DisplayRadix, the request and answer
// counters with their percentages (kept with the link's exchange publisher, so they outlive the
// window), and the serial port's settings.
// User-interface thread. The window takes the exchanges from the link's publisher while it is
// open: in the order of the exchanges, at once when the exchange ran on this thread.

#include "uExchangePublisher.h"
#include "uTransmitter.h"
#include <QByteArray>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;
class TDeviceLink;
class TMonitorPanel;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormReqAns : public QWidget {
    Q_OBJECT
public:
    // link: the device link whose exchanges are watched; null: none.
    // The window deletes itself when closed. Restores its position, clears the texts, refreshes
    // and starts counting the link's exchanges (until it is closed).
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

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TDeviceLink* Link() const;
    // The link publisher's counters; the window's own without a link.
    TExchangeStatistics& Statistics();
    void StatClear();

    TDeviceLink* Link_ = nullptr;
    TExchangeStatistics OwnStatistics_;
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
