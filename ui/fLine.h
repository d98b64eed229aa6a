#pragma once
// "Линия": every gauge of the poll list in one table: address, plant number, readings, relays,
// fault, age of the last good answer and the share of good answers. A gauge whose last exchange
// got no usable answer is marked at once. Choosing a row makes that gauge the current one (the
// gauge that the other windows and every command work with) while the others go on being
// polled. The poll list can be typed here; the bus scan fills it too. A view on the device
// link's gauges: TDeviceLink::SetPollAddresses, SelectGauge, GaugeModel, GaugeStats.

#include <QPointer>
#include <QWidget>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class TDeviceLink;
class TWindowContext;
template <class T> class TWindowSlot;

class TFormLine : public QWidget {
    Q_OBJECT
public:
    enum TColumn {
        ColAddress,
        ColPlantNumber,
        ColLevel,
        ColDistance,
        ColLevelFree,
        ColVolume,
        ColRelay1,
        ColRelay2,
        ColFaultCode,
        ColFaultText,
        ColAge,
        ColShare,
        ColumnCount
    };

    TFormLine(TDeviceLink* link, TWindowContext* context, QWidget* parent = nullptr);
    ~TFormLine() override;

    QLineEdit* edAddresses;
    QPushButton* btnApply;
    QLabel* lblNote;
    QTableWidget* grdLine;

    // The addresses the table shows, in its order: the poll list, or the current gauge alone.
    std::vector<quint8> Shown() const { return Shown_; }

signals:
    void Closed();

public slots:
    // Fills the table from the link's gauges.
    void RefreshRows();
    // The context's refresh: the same.
    void Refresh() { RefreshRows(); }
    // "Применить": takes the typed poll list, keeps it in the settings.
    void ApplyAddresses();
    // Makes the gauge of a row the current one.
    void ChooseRow(int row);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The red line under the list: why a typed list was not taken; hidden when empty.
    void SetNote(const QString& text);

    TDeviceLink* Link_;
    QPointer<TWindowContext> Context_;
    QTimer* Timer_;
    std::vector<quint8> Shown_;
};

// The window's column titles, in column order.
QStringList LineColumnTitles();

// actFormLineShow: makes the window when the slot holds none, and shows it.
TFormLine* ShowFormLine(TWindowSlot<TFormLine>& slot, TDeviceLink* link, TWindowContext* context);
