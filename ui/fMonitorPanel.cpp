#include "fMonitorPanel.h"

#include "uModal.h"
#include "uParamStr.h"
#include "uRequestDevices.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int PullIntervalMs = 200; // five times a second while shown

const QColor FailedBackground(0xFF, 0xD6, 0xD6);
const QColor FailedText(0x9C, 0x00, 0x06);

// Shown with the program's decimal comma; the saved file keeps the decoder's own text.
QString MsText(double ms) {
    return ms < 0 ? QString() : QLocale().toString(ms, 'f', 1);
}

// One line of the saved file: the decoder's CSV line, ended as the program's other CSV files.
QString CsvFileLine(const QStringList& cells) {
    return CsvLine(cells) + QStringLiteral("\r\n");
}

} // namespace

TMonitorRow DecodeMonitorRow(const TExchangeRecord& record) {
    TMonitorRow row;
    row.Sequence = record.Sequence;
    row.Device = record.Device;
    row.Request = record.Request;
    row.Answer = record.Answer;
    row.Decoded = DecodeExchange(record);
    row.Failed = row.Decoded.Failed || record.Result != 0 || !record.Accepted;
    return row;
}

QString MonitorRowFramesText(const TMonitorRow& row) {
    QString text = QStringLiteral("Запрос: ") + ToHexString(row.Request);
    text += QStringLiteral("\nОтвет: ") +
            (row.Answer.isEmpty() ? QStringLiteral("Нет ответа") : ToHexString(row.Answer));
    if (!row.Decoded.Problem.isEmpty())
        text += QLatin1Char('\n') + row.Decoded.Problem;
    // The decoded fields in full: the table's cells cut long texts short.
    for (const QStringList* fields : {&row.Decoded.RequestFields, &row.Decoded.AnswerFields})
        if (!fields->isEmpty())
            text += QLatin1Char('\n') + fields->join(QStringLiteral("\n"));
    return text;
}

// --- TMonitorModel ---

TMonitorModel::TMonitorModel(QObject* parent, int capacity)
    : QAbstractTableModel(parent), Capacity_(std::max(1, capacity)) {}

int TMonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int TMonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TMonitorModel::CellText(const TMonitorRow& row, int column) {
    const TDecodedExchange& d = row.Decoded;
    switch (column) {
    case ColTime:
        return QDateTime::fromMSecsSinceEpoch(d.TimeMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case ColAddress:
        return d.Address < 0 ? QString() : QString::number(d.Address);
    case ColCommand:
        return d.CommandName;
    case ColCode:
        return d.Code < 0 ? QString() : QString::number(d.Code);
    case ColRequest:
        return d.RequestFields.join(QStringLiteral("; "));
    case ColAnswer: {
        QString text = d.AnswerFields.join(QStringLiteral("; "));
        if (!d.Problem.isEmpty())
            text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + d.Problem;
        return text;
    }
    case ColChecksum:
        return d.ChecksumVerdict;
    case ColSent:
        return QString::number(d.BytesSent);
    case ColReceived:
        return QString::number(d.BytesReceived);
    case ColDelay:
        return MsText(d.DelayMs);
    case ColDuration:
        return MsText(d.DurationMs);
    case ColResult:
        return d.ResultText;
    default:
        return QString();
    }
}

QVariant TMonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const TMonitorRow& row = Rows_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return CellText(row, index.column());
    case Qt::ToolTipRole:
        return MonitorRowFramesText(row);
    case Qt::BackgroundRole:
        return row.Failed ? QVariant(QBrush(FailedBackground)) : QVariant();
    case Qt::ForegroundRole:
        return row.Failed ? QVariant(QBrush(FailedText)) : QVariant();
    case Qt::TextAlignmentRole:
        switch (index.column()) {
        case ColAddress:
        case ColCode:
        case ColSent:
        case ColReceived:
        case ColDelay:
        case ColDuration:
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
        }
    default:
        return {};
    }
}

QVariant TMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList titles{QStringLiteral("Время"),
                                    QStringLiteral("Адрес"),
                                    QStringLiteral("Команда"),
                                    QStringLiteral("Код"),
                                    QStringLiteral("Запрос"),
                                    QStringLiteral("Ответ"),
                                    QStringLiteral("CRC"),
                                    QStringLiteral("Передано"),
                                    QStringLiteral("Принято"),
                                    QStringLiteral("Задержка, мс"),
                                    QStringLiteral("Длительность, мс"),
                                    QStringLiteral("Результат")};
    return section >= 0 && section < titles.size() ? QVariant(titles.at(section)) : QVariant();
}

void TMonitorModel::Append(std::vector<TMonitorRow> rows) {
    if (rows.empty())
        return;
    // More new rows than the ring holds: only the newest count.
    if (static_cast<int>(rows.size()) > Capacity_)
        rows.erase(rows.begin(), rows.end() - Capacity_);
    const int overflow = static_cast<int>(Rows_.size() + rows.size()) - Capacity_;
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, overflow - 1);
        Rows_.erase(Rows_.begin(), Rows_.begin() + overflow);
        endRemoveRows();
    }
    const int first = static_cast<int>(Rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    for (TMonitorRow& row : rows)
        Rows_.push_back(std::move(row));
    endInsertRows();
}

void TMonitorModel::Clear() {
    if (Rows_.empty())
        return;
    beginResetModel();
    Rows_.clear();
    endResetModel();
}

// --- TMonitorFilter ---

void TMonitorFilter::SetCode(int code) {
    if (code == Code_)
        return;
    Code_ = code;
    invalidateFilter();
}

void TMonitorFilter::SetFailedOnly(bool failedOnly) {
    if (failedOnly == FailedOnly_)
        return;
    FailedOnly_ = failedOnly;
    invalidateFilter();
}

void TMonitorFilter::SetText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == Text_)
        return;
    Text_ = trimmed;
    invalidateFilter();
}

bool TMonitorFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const auto* model = qobject_cast<const TMonitorModel*>(sourceModel());
    if (!model || sourceParent.isValid() || sourceRow < 0 || sourceRow >= model->rowCount())
        return false;
    const TMonitorRow& row = model->Row(sourceRow);
    if (Code_ >= 0 && row.Decoded.Code != Code_)
        return false;
    if (FailedOnly_ && !row.Failed)
        return false;
    if (Text_.isEmpty())
        return true;
    for (int column = 0; column < TMonitorModel::ColumnCount; ++column)
        if (TMonitorModel::CellText(row, column).contains(Text_, Qt::CaseInsensitive))
            return true;
    return ToHexString(row.Request).contains(Text_, Qt::CaseInsensitive) ||
           ToHexString(row.Answer).contains(Text_, Qt::CaseInsensitive);
}

// --- TMonitorPanel ---

TMonitorPanel::TMonitorPanel(QWidget* parent, TDeviceLink* link) : QWidget(parent), Link_(link) {
    setObjectName(QStringLiteral("MonitorPanel"));
    Model_ = new TMonitorModel(this);
    Filter_ = new TMonitorFilter(this);
    Filter_->setSourceModel(Model_);

    chkPause = new QCheckBox(QStringLiteral("Пауза"), this);
    btnClear = new QPushButton(QStringLiteral("Очистить"), this);
    btnSave = new QPushButton(QStringLiteral("Сохранить…"), this);
    cmbCommand = new QComboBox(this);
    cmbCommand->addItem(QStringLiteral("Все команды"), -1);
    cmbCommand->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cmbResult = new QComboBox(this);
    cmbResult->addItem(QStringLiteral("Все обмены"));
    cmbResult->addItem(QStringLiteral("Только ошибки"));
    edtText = new QLineEdit(this);
    edtText->setPlaceholderText(QStringLiteral("Найти текст"));
    edtText->setClearButtonEnabled(true);
    lblCount = new QLabel(this);

    tblRows = new QTableView(this);
    tblRows->setModel(Filter_);
    tblRows->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblRows->setSelectionMode(QAbstractItemView::SingleSelection);
    tblRows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblRows->setWordWrap(false);
    tblRows->verticalHeader()->setVisible(false);
    tblRows->verticalHeader()->setDefaultSectionSize(tblRows->fontMetrics().height() + 4);
    tblRows->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {90, 50, 170, 40, 160, 260, 90, 70, 70, 100, 125, 160};
    for (int column = 0; column < TMonitorModel::ColumnCount; ++column)
        tblRows->setColumnWidth(column, widths[column]);

    txtFrames = new QPlainTextEdit(this);
    txtFrames->setReadOnly(true);
    txtFrames->setMaximumBlockCount(100);
    txtFrames->setPlaceholderText(QStringLiteral("Кадры выбранного обмена"));
    txtFrames->setFont(QFont(QStringLiteral("Monospace")));

    auto* bar = new QHBoxLayout;
    bar->addWidget(chkPause);
    bar->addWidget(btnClear);
    bar->addWidget(cmbCommand);
    bar->addWidget(cmbResult);
    bar->addWidget(edtText, 1);
    bar->addWidget(lblCount);
    bar->addWidget(btnSave);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(tblRows);
    splitter->addWidget(txtFrames);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);

    Timer_ = new QTimer(this);
    Timer_->setInterval(PullIntervalMs);
    connect(Timer_, &QTimer::timeout, this, &TMonitorPanel::Pull);
    connect(chkPause, &QCheckBox::toggled, this, &TMonitorPanel::SetPaused);
    connect(btnClear, &QPushButton::clicked, this, &TMonitorPanel::ClearRows);
    connect(btnSave, &QPushButton::clicked, this, &TMonitorPanel::SaveCsv);
    connect(cmbCommand, &QComboBox::currentIndexChanged, this, &TMonitorPanel::ApplyFilter);
    connect(cmbResult, &QComboBox::currentIndexChanged, this, &TMonitorPanel::ApplyFilter);
    connect(edtText, &QLineEdit::textChanged, this, &TMonitorPanel::ApplyFilter);
    connect(tblRows->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TMonitorPanel::ShowSelected);
    // Rows dropped from the front or filtered away may take the selection with them.
    connect(Filter_, &QAbstractItemModel::rowsRemoved, this, &TMonitorPanel::ShowSelected);
    connect(Filter_, &QAbstractItemModel::modelReset, this, &TMonitorPanel::ShowSelected);
    UpdateCount();
}

TMonitorPanel::~TMonitorPanel() {
    if (Timer_)
        Timer_->stop();
    Listener_.reset();
}

TDeviceLink* TMonitorPanel::Link() const {
    return Link_;
}

void TMonitorPanel::StartListening() {
    if (Listener_)
        return;
    TDeviceLink* link = Link();
    if (!link)
        return;
    Listener_ = std::make_unique<TExchangeListener>(link->Publisher()->Ring());
    // A new link starts its numbering again.
    if (link->Publisher()->Ring()->LastSequence() < LastSequence_)
        LastSequence_ = 0;
    Timer_->start();
}

void TMonitorPanel::StopListening() {
    if (Timer_)
        Timer_->stop();
    if (!Listener_)
        return;
    Pull(); // what was recorded up to now is shown
    Listener_.reset();
}

void TMonitorPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    StartListening();
}

void TMonitorPanel::hideEvent(QHideEvent* event) {
    StopListening();
    QWidget::hideEvent(event);
}

void TMonitorPanel::Pull() {
    if (!Listener_ || chkPause->isChecked())
        return;
    const std::vector<TExchangeRecord> records = Listener_->Ring()->TakeSince(LastSequence_);
    if (records.empty())
        return;
    // Only the newest rows fit: the older ones are not decoded at all.
    const size_t skip = records.size() > static_cast<size_t>(Model_->Capacity())
                            ? records.size() - Model_->Capacity()
                            : 0;
    std::vector<TMonitorRow> rows;
    rows.reserve(records.size() - skip);
    for (size_t i = skip; i < records.size(); ++i)
        rows.push_back(DecodeMonitorRow(records[i]));
    AddCommandChoices(rows);
    Model_->Append(std::move(rows));
    UpdateCount();
}

void TMonitorPanel::AddCommandChoices(const std::vector<TMonitorRow>& rows) {
    for (const TMonitorRow& row : rows) {
        const int code = row.Decoded.Code;
        if (code < 0 || cmbCommand->findData(code) >= 0)
            continue;
        const QString name = row.Decoded.CommandName.isEmpty()
                                 ? QString::number(code)
                                 : QStringLiteral("%1 (%2)").arg(row.Decoded.CommandName).arg(code);
        // Kept in code order after "Все команды".
        int at = 1;
        while (at < cmbCommand->count() && cmbCommand->itemData(at).toInt() < code)
            ++at;
        cmbCommand->insertItem(at, name, code);
    }
}

void TMonitorPanel::SetPaused(bool paused) {
    if (chkPause->isChecked() != paused)
        chkPause->setChecked(paused); // comes back here through toggled
    else if (!paused)
        Pull();
}

void TMonitorPanel::ClearRows() {
    // What the link recorded up to now is not shown again.
    if (Listener_)
        LastSequence_ = Listener_->Ring()->LastSequence();
    Model_->Clear();
    txtFrames->clear();
    UpdateCount();
}

void TMonitorPanel::ApplyFilter() {
    Filter_->SetCode(cmbCommand->currentData().isValid() ? cmbCommand->currentData().toInt() : -1);
    Filter_->SetFailedOnly(cmbResult->currentIndex() == 1);
    Filter_->SetText(edtText->text());
    UpdateCount();
}

void TMonitorPanel::ShowSelected() {
    const QModelIndex current = tblRows->selectionModel()->currentIndex();
    if (!current.isValid()) {
        txtFrames->clear();
        return;
    }
    const QModelIndex source = Filter_->mapToSource(current);
    if (!source.isValid()) {
        txtFrames->clear();
        return;
    }
    txtFrames->setPlainText(MonitorRowFramesText(Model_->Row(source.row())));
}

void TMonitorPanel::UpdateCount() {
    lblCount->setText(QStringLiteral("%1 из %2").arg(Filter_->rowCount()).arg(Model_->rowCount()));
}

bool TMonitorPanel::SaveCsvTo(const QString& path, QString* error) const {
    QString text = CsvFileLine(DecodedCsvHeader());
    for (int row = 0; row < Filter_->rowCount(); ++row) {
        const QModelIndex source = Filter_->mapToSource(Filter_->index(row, 0));
        if (source.isValid())
            text += CsvFileLine(DecodedCsvFields(Model_->Row(source.row()).Decoded));
    }
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void TMonitorPanel::SaveCsv() {
    QFileDialog dialog(this, QStringLiteral("Сохранить обмены"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("CSV (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("monitor.csv"));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!SaveCsvTo(dialog.selectedFiles().constFirst(), &error))
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       QStringLiteral("Не удалось сохранить файл: ") + error, QMessageBox::Ok,
                       QMessageBox::NoButton, this);
}
