#pragma once
// Parameters window "Параметры УЛМАР": the configuration parameters as the device object holds
// them. Value links run the main window's Change actions; the mode lists write their code into
// the device object and refresh every window. User-interface thread only.

#include "uParamTable.h"

#include <QStringList>
#include <QWidget>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class TActionLabel;
class TUlmar;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormUlmarPar : public QWidget {
    Q_OBJECT
public:
    // Builds the window for the device object (which must outlive it), restores its position
    // and loads the module type list. The context (which must outlive it) gives the value links
    // their actions, the factory mode and the refresh after a choice; without one the links run
    // nothing and the factory groups stay hidden. Closing the window destroys it.
    explicit TFormUlmarPar(TUlmar* ulmar, TWindowContext* context = nullptr,
                           QWidget* parent = nullptr);
    ~TFormUlmarPar() override;

    // Factory-mode groups, value texts, thermostat row, list selections, program type control
    // and the lists' enabled state (enabled only while polling is stopped).
    void Refresh();

    // A list of module types is a few lines; a larger TypeSVCH.ini is not one.
    static constexpr qint64 TypeSvchFileMaxBytes = 64 * 1024;
    // Lines of INI/TypeSVCH.ini beside the program, or the seven default types when the file
    // is missing, holds no line or is refused (no regular file, larger than
    // TypeSvchFileMaxBytes, unreadable: then noted as NoteRefusedSettingsFile says).
    static QStringList LoadTypeSVCHList();
    static QStringList DefaultTypeSVCHList();

    QGroupBox* grbSignature = nullptr;
    QGroupBox* grbDist = nullptr;
    QGroupBox* grbRelay = nullptr;
    QGroupBox* grbPar = nullptr;
    QGroupBox* grbParKalibr = nullptr;
    QGroupBox* grbModePlants = nullptr;
    QGroupBox* grbMode = nullptr;
    QGroupBox* grbSVCH = nullptr;

    QLabel* lblHardVersion = nullptr;
    QLabel* lblSoftVersion = nullptr;
    TActionLabel* lblPlantNumber = nullptr;
    TActionLabel* lblSystemAddress = nullptr;
    TActionLabel* lblDist1 = nullptr;
    TActionLabel* lblDist2 = nullptr;
    TActionLabel* lblRelay1Ust1 = nullptr;
    TActionLabel* lblRelay2Ust1 = nullptr;
    TActionLabel* lblRelay1Ust2 = nullptr;
    TActionLabel* lblRelay2Ust2 = nullptr;
    TActionLabel* lblKKalman = nullptr;
    TActionLabel* lblSpeed = nullptr;
    TActionLabel* lblUserPsw = nullptr;
    TActionLabel* lblKrPer = nullptr;
    TActionLabel* lblSmPer = nullptr;
    TActionLabel* lblKrPerOpCh = nullptr;
    TActionLabel* lblSmPerOpCh = nullptr;
    TActionLabel* lblFreqCalibr = nullptr;
    TActionLabel* lblKKK1 = nullptr;
    TActionLabel* lblKKK2 = nullptr;
    TActionLabel* lblKKK3 = nullptr;
    TActionLabel* lblTemperCompareTermostat = nullptr;
    QLabel* lblTemperCompareTermostatTitle = nullptr;
    QLabel* imgTemperCompareTermostat = nullptr;
    TActionLabel* lblLevelKalibr = nullptr;
    TActionLabel* lblPlantNumberSVCH = nullptr;
    QLabel* lblProgramType = nullptr;

    QComboBox* cmbModeProcessing = nullptr;
    QComboBox* cmbModeInputFilter = nullptr;
    QComboBox* cmbModeChannel = nullptr;
    QComboBox* cmbModeCalibr = nullptr;
    QComboBox* cmbModeTermostat = nullptr;
    QComboBox* cmbModeImage = nullptr;
    QComboBox* cmbModeCurrentOutput = nullptr;
    QComboBox* cmbProgramType = nullptr;
    QComboBox* cmbTypeSVCH = nullptr;

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    // The operator chose an item: store its code, then refresh every window.
    void ListChosen(QComboBox* list, int index);

    TUlmar* Ulmar_;
    TWindowContext* Context_;
    // The value labels and the parameters they show.
    std::vector<std::pair<QLabel*, TParamId>> Values_;
};

// Creates the parameters window for the device object when the slot holds none, keeps it there
// and shows it; the window follows the context's refresh. 0, or -1 without a device object.
int ShowFormUlmarPar(TWindowSlot<TFormUlmarPar>& slot, TUlmar* ulmar, TWindowContext* context);
