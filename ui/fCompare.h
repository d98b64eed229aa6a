#pragma once
// "Сравнить с файлом…": the gauge's parameters beside a parameter file's, the differing rows
// marked and checked; "Записать отмеченные" writes the checked ones, commits to ROM once, reads
// them back and marks those that did not take. User-interface thread.

#include <QDialog>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class TGaugeCommands;
class TUlmar;
struct TParamRow;

class TFormCompare : public QDialog {
    Q_OBJECT
public:
    // rows: the parameters compared; fileSet: the file's values; gaugeRead: per row, whether
    // the gauge's value in the device object was read just now.
    TFormCompare(TGaugeCommands& commands, const QString& fileName,
                 std::vector<const TParamRow*> rows, std::shared_ptr<const TUlmar> fileSet,
                 std::vector<bool> gaugeRead, QWidget* parent = nullptr);

    // The table: name, gauge, file, state; column 0 carries the check box.
    QTableWidget* tblParams;
    QLabel* lblFile;
    QPushButton* btnWrite;
    QPushButton* btnClose;

    // The rows whose parameters differ (or could not be read or did not take).
    std::vector<const TParamRow*> Marked() const;
    std::vector<const TParamRow*> Checked() const;

    // Writes the checked rows, commits once, reads them back and marks again.
    void WriteChecked();

private:
    void Fill();

    TGaugeCommands& Commands_;
    std::vector<const TParamRow*> Rows_;
    std::shared_ptr<const TUlmar> File_;
    std::vector<bool> Read_;
    std::vector<bool> NotTaken_;
};

// Loads the file's values of the compared set (the bulk write set, with the factory set in
// factory mode), reads the gauge's, and shows the dialog modally. A file that cannot be used is
// reported in an error box and nothing is sent.
void RunParamCompare(TGaugeCommands& commands, const QString& fileName, bool factory,
                     QWidget* parent);
