#pragma once
// Readings window "Показания УЛМАР": the gauge's current readings, the level as a bar.
// Six visual bindings follow the device object's values; Refresh fills everything else.
// User-interface thread only.

#include <QWidget>
#include <array>
#include <memory>

class QFrame;
class QGroupBox;
class QLabel;
class TActionLabel;
class TIODouble;
class TIODoubleVisual;
class TUlmar;
class TVHistogram;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormUlmar : public QWidget {
    Q_OBJECT
public:
    // Builds the window for the device object (which must outlive it), restores its position
    // and connects the bindings. The context (which must outlive it) gives the trend pictures
    // their actions and the factory mode; without one they run nothing and the factory rows
    // stay hidden. Closing the window destroys it.
    explicit TFormUlmar(TUlmar* ulmar, TWindowContext* context = nullptr,
                        QWidget* parent = nullptr);
    ~TFormUlmar() override;

    // Factory-mode rows, relay states, error code and text, scale range from Dist2, the
    // bindings, temperatures, frequencies, the group colour of the readings and the current.
    void Refresh();

    TVHistogram* vhLevel = nullptr;
    QLabel* stxLevel = nullptr;
    QGroupBox* gbValues = nullptr;
    QLabel* lblDistance = nullptr;
    QLabel* lblLevelFree = nullptr;
    QLabel* lblLevel = nullptr;
    QLabel* lblVolume = nullptr;
    QLabel* lblCurrentOutputTitle = nullptr;
    QLabel* lblCurrentOutput = nullptr;
    TActionLabel* imgDistance = nullptr;
    TActionLabel* imgLevelFree = nullptr;
    TActionLabel* imgLevel = nullptr;
    TActionLabel* imgVolume = nullptr;
    TActionLabel* imgCurrentOutput = nullptr;
    QGroupBox* grbRelay = nullptr;
    QFrame* shpRelay1 = nullptr;
    QFrame* shpRelay2 = nullptr;
    QLabel* lblRelay1 = nullptr;
    QLabel* lblRelay2 = nullptr;
    QGroupBox* gbTemp = nullptr;
    QLabel* lblTempSVCH = nullptr;
    QLabel* lblTempTermostat = nullptr;
    QGroupBox* grbErrors = nullptr;
    QLabel* lblErrorByte = nullptr;
    QLabel* lblErrorMessage = nullptr;
    QGroupBox* gbFreq = nullptr;
    QLabel* lblFreq = nullptr;
    QLabel* lblFreqOpCh = nullptr;

    // The bindings: level bar, level text, level, free space, volume, distance (empty after
    // the window has closed).
    const std::array<std::unique_ptr<TIODoubleVisual>, 6>& Bindings() const { return Bindings_; }

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    // The device values of the six bindings, in binding order.
    std::array<TIODouble*, 6> Sources() const;
    void CreateBindings();
    void AssignDescriptions();
    void ReleaseBindings();

    TUlmar* Ulmar_;
    TWindowContext* Context_;
    std::array<std::unique_ptr<TIODoubleVisual>, 6> Bindings_;
};

// Creates the readings window for the device object when the slot holds none, keeps it there,
// shows it and brings it forward; the window follows the context's refresh. 0, or -1 without
// a device object.
int ShowFormUlmar(TWindowSlot<TFormUlmar>& slot, TUlmar* ulmar, TWindowContext* context);
