#pragma once
// Command selection window "Команды УЛМАР": chooses the gauge command codes of the poll cycle
// (SelectedCommands) and whether the КАЛИСТ-1 (device list entry 1) is polled. The selection
// lives in the device link and outlives the window. User-interface thread.

#include <QWidget>

class QCheckBox;
class QFrame;
class QGridLayout;
class QLabel;
class TDeviceLink;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormSelectCMD : public QWidget {
    Q_OBJECT
public:
    // link: the device link whose selection the boxes edit; null: none. The context (which must
    // outlive the window; null: factory and КАЛИСТ modes off) gives the modes. The window deletes
    // itself when closed. Restores its position; the boxes show the link's SelectedCommands and
    // whether the КАЛИСТ-1 is polled, without changing either, then Refresh applies its rules.
    explicit TFormSelectCMD(QWidget* parent = nullptr, TDeviceLink* link = nullptr,
                            TWindowContext* context = nullptr);
    ~TFormSelectCMD() override;

    // Factory-mode rows visible exactly in factory mode; chbTempTermostat enabled only for
    // program type 1, otherwise unchecked (code 56 removed) and disabled.
    void Refresh();

    // Checking or unchecking any box, by the operator or by code, applies its effect; only
    // the creation, which shows the link's state on the boxes, changes none.
    QCheckBox* chbSelectAll = nullptr;
    QCheckBox* chbEcho = nullptr;
    QCheckBox* chbDistance = nullptr;
    QCheckBox* chbLevelFree = nullptr;
    QCheckBox* chbLevel = nullptr;
    QCheckBox* chbVolume = nullptr;
    QCheckBox* chbLevelAll = nullptr;
    QCheckBox* chbTempSVCH = nullptr;
    QCheckBox* chbTempTermostat = nullptr;
    QCheckBox* chbFreq = nullptr;
    QCheckBox* chbFreqOpCh = nullptr;
    QCheckBox* chbCurrentOutput = nullptr; // device list entry 1 (КАЛИСТ-1) enabled

    // SelectCmdInit of the start-up: checks chbLevelAll, and checks chbCurrentOutput when both
    // factory and КАЛИСТ modes are on (unchecks it otherwise). With the selection empty at
    // start, this makes code 6 the first poll selection.
    void SelectCmdInit();

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TDeviceLink* Link() const;
    bool FactoryMode() const;
    QCheckBox* AddBox(QGridLayout* grid, const QString& caption, int code);
    QFrame* AddSeparator(QGridLayout* grid);
    // Checks exactly the boxes of the selected codes and chbCurrentOutput by the КАЛИСТ-1's
    // Enabled; chbSelectAll stays as it is. Nothing in the link changes.
    void ShowSelection();
    void SelectAllChanged(bool checked);
    void SetCode(int code, bool on);

    TDeviceLink* Link_ = nullptr;
    TWindowContext* Context_ = nullptr;
    QLabel* imgTempTermostat = nullptr;
    QList<QWidget*> FactoryWidgets_; // the factory rows, their images and separators
    QList<QCheckBox*> Boxes_;        // the boxes of one command code each
};

// actSelectCmdShow: creates the window for the context's link when the slot holds none, keeps it
// there, shows it non-modally and returns it. The window follows the context's refresh.
TFormSelectCMD* ShowFormSelectCMD(TWindowSlot<TFormSelectCMD>& slot, QWidget* parent,
                                  TWindowContext* context);
