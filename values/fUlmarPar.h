#pragma once
// Parameters window "Параметры УЛМАР": the configuration parameters as the device object holds
// them. Value links run the main window's Change actions; the mode lists write their code into
// the device object and refresh every window. User-interface thread only.

#include <QStringList>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class TActionLabel;
class TUlmar;

class TFormUlmarPar : public QWidget {
    Q_OBJECT
public:
    // Builds the window for the device object (which must outlive it), restores its position
    // and loads the module type list. Closing the window destroys it.
    explicit TFormUlmarPar(TUlmar* ulmar, QWidget* parent = nullptr);
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    // The operator chose an item: store its code, then refresh every window.
    void ListChosen(QComboBox* list, int index);

    TUlmar* Ulmar_;
};

// The open parameters window, or null.
extern TFormUlmarPar* FormUlmarPar;
// Creates the parameters window for the device object when none is open and shows it.
// 0, or -1 when that fails.
int ShowFormUlmarPar(TUlmar* ulmar);
