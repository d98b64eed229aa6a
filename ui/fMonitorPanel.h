#pragma once
// The link window's traffic monitor: the last exchanges on the line, one decoded row each, in
// a table over a bounded ring of rows. While the panel is shown it listens to the ring of the
// link's exchange publisher and, five times a second, copies the new records out and decodes
// them here on the user-interface thread; hidden, it does not listen, so the link records
// nothing for it. User-interface thread only.

#include "uExchangeDecode.h"
#include "uExchangePublisher.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <deque>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class TDeviceLink;

// One row of the monitor: the decoded exchange and the frames it came from.
struct TMonitorRow {
    quint64 Sequence = 0;
    int Device = 0;
    TDecodedExchange Decoded;
    QByteArray Request;
    QByteArray Answer;
    bool Failed = false; // no answer, an error answer, a checksum or parse failure
};

// The record decoded into a row; a failure of the link or of the decode marks the row failed.
TMonitorRow DecodeMonitorRow(const TExchangeRecord& record);
// The hexadecimal frames of a row and its decoded fields in full, one a line, for the detail
// pane and the tooltip.
QString MonitorRowFramesText(const TMonitorRow& row);

// The rows, oldest first, at most Capacity (the oldest dropped first).
class TMonitorModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn {
        ColTime,
        ColAddress,
        ColCommand,
        ColCode,
        ColRequest,
        ColAnswer,
        ColChecksum,
        ColSent,
        ColReceived,
        ColDelay,
        ColDuration,
        ColResult,
        ColumnCount
    };
    static constexpr int DefaultCapacity = 2000;

    explicit TMonitorModel(QObject* parent = nullptr, int capacity = DefaultCapacity);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void Append(std::vector<TMonitorRow> rows);
    void Clear();
    const TMonitorRow& Row(int row) const { return Rows_[static_cast<size_t>(row)]; }
    int Capacity() const { return Capacity_; }
    // The cell's text as the table shows it.
    static QString CellText(const TMonitorRow& row, int column);

private:
    const int Capacity_;
    std::deque<TMonitorRow> Rows_;
};

// The shown rows: by command code, failed only, and a text found in any cell.
class TMonitorFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetCode(int code); // -1: every command
    void SetFailedOnly(bool failedOnly);
    void SetText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int Code_ = -1;
    bool FailedOnly_ = false;
    QString Text_;
};

class TMonitorPanel : public QWidget {
    Q_OBJECT
public:
    // link: the device link whose exchanges are shown; null: none, the panel stays empty.
    explicit TMonitorPanel(QWidget* parent = nullptr, TDeviceLink* link = nullptr);
    ~TMonitorPanel() override;

    // Takes the new records from the link and appends their decoded rows (the timer's work;
    // while paused nothing is taken, the link keeps its last records meanwhile).
    void Pull();
    // Whether the link records exchanges for this panel (true only while it is shown).
    bool Listening() const { return Listener_ != nullptr; }
    // Writes the shown rows as CSV (header first, ';' separated, UTF-8 with a byte-order
    // mark); false with the reason on failure, the file left as it was.
    bool SaveCsvTo(const QString& path, QString* error = nullptr) const;
    // "Сохранить…": asks for the file, then SaveCsvTo; a failure is reported in a message box.
    void SaveCsv();
    void ClearRows();
    void SetPaused(bool paused);

    TMonitorModel* Model() const { return Model_; }
    TMonitorFilter* Filter() const { return Filter_; }

    QTableView* tblRows = nullptr;
    QCheckBox* chkPause = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnSave = nullptr;
    QComboBox* cmbCommand = nullptr; // "Все команды", then every command seen
    QComboBox* cmbResult = nullptr;  // "Все обмены", "Только ошибки"
    QLineEdit* edtText = nullptr;
    QPlainTextEdit* txtFrames = nullptr; // the selected row's frames in hexadecimal
    QLabel* lblCount = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    TDeviceLink* Link() const;
    void StartListening();
    void StopListening();
    void AddCommandChoices(const std::vector<TMonitorRow>& rows);
    void ApplyFilter();
    void ShowSelected();
    void UpdateCount();

    TDeviceLink* Link_ = nullptr;
    std::unique_ptr<TExchangeListener> Listener_;
    quint64 LastSequence_ = 0;
    TMonitorModel* Model_ = nullptr;
    TMonitorFilter* Filter_ = nullptr;
    QTimer* Timer_ = nullptr;
};
