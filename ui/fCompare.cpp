#include "fCompare.h"
#include "Ulmar.h"
#include "uGaugeCommands.h"
#include "uModal.h"
#include "uParamFile.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

enum TColumn { ColName, ColGauge, ColFile, ColState, ColumnCount };

const QColor MarkColour(255, 214, 214);

} // namespace

TFormCompare::TFormCompare(TGaugeCommands& commands, const QString& fileName,
                           std::vector<const TParamRow*> rows,
                           std::shared_ptr<const TUlmar> fileSet, std::vector<bool> gaugeRead,
                           QWidget* parent)
    : QDialog(parent), Commands_(commands), Rows_(std::move(rows)), File_(std::move(fileSet)),
      Read_(std::move(gaugeRead)), NotTaken_(Rows_.size(), false) {
    setObjectName(QStringLiteral("FormCompare"));
    setWindowTitle(QStringLiteral("Сравнение с файлом"));
    auto* layout = new QVBoxLayout(this);
    lblFile = new QLabel(QStringLiteral("Файл: ") + QDir::toNativeSeparators(fileName), this);
    lblFile->setObjectName(QStringLiteral("lblFile"));
    layout->addWidget(lblFile);
    tblParams = new QTableWidget(static_cast<int>(Rows_.size()), ColumnCount, this);
    tblParams->setObjectName(QStringLiteral("tblParams"));
    tblParams->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Прибор"),
                                          QStringLiteral("Файл"), QStringLiteral("Состояние")});
    tblParams->verticalHeader()->hide();
    tblParams->setSelectionMode(QAbstractItemView::NoSelection);
    tblParams->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblParams->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::ResizeToContents);
    tblParams->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(tblParams);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnWrite = new QPushButton(QStringLiteral("Записать отмеченные"), this);
    btnWrite->setObjectName(QStringLiteral("btnWrite"));
    btnClose = new QPushButton(QStringLiteral("Закрыть"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(btnWrite);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);
    connect(btnWrite, &QPushButton::clicked, this, [this] { WriteChecked(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    Fill();
    tblParams->resizeColumnsToContents();
    for (int c : {ColGauge, ColFile})
        tblParams->setColumnWidth(c, std::max(tblParams->columnWidth(c), 90));
    resize(720, 520);
}

void TFormCompare::Fill() {
    const TUlmar* gauge = Commands_.Ulmar();
    for (size_t i = 0; i < Rows_.size(); ++i) {
        const TParamRow& row = *Rows_[i];
        const int r = static_cast<int>(i);
        const bool read = Read_[i] && gauge;
        const bool differs = !read || NotTaken_[i] || !ParamEqual(*gauge, *File_, row);
        auto* name = new QTableWidgetItem(ParamTitle(row));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        name->setCheckState(differs ? Qt::Checked : Qt::Unchecked);
        name->setToolTip(QString::fromLatin1(row.Key));
        const QString state = NotTaken_[i] ? QStringLiteral("не принят")
                              : !read      ? QStringLiteral("не считан")
                              : differs    ? QStringLiteral("различается")
                                           : QString();
        QTableWidgetItem* cells[] = {
            name, new QTableWidgetItem(read ? FormatParam(*gauge, row) : QStringLiteral("—")),
            new QTableWidgetItem(FormatParam(*File_, row)), new QTableWidgetItem(state)};
        for (int c = 0; c < ColumnCount; ++c) {
            if (c != ColName)
                cells[c]->setFlags(Qt::ItemIsEnabled);
            if (c == ColGauge || c == ColFile)
                cells[c]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (differs)
                cells[c]->setBackground(MarkColour);
            tblParams->setItem(r, c, cells[c]);
        }
    }
}

std::vector<const TParamRow*> TFormCompare::Marked() const {
    std::vector<const TParamRow*> rows;
    for (size_t i = 0; i < Rows_.size(); ++i)
        if (!tblParams->item(static_cast<int>(i), ColState)->text().isEmpty())
            rows.push_back(Rows_[i]);
    return rows;
}

std::vector<const TParamRow*> TFormCompare::Checked() const {
    std::vector<const TParamRow*> rows;
    for (size_t i = 0; i < Rows_.size(); ++i)
        if (tblParams->item(static_cast<int>(i), ColName)->checkState() == Qt::Checked)
            rows.push_back(Rows_[i]);
    return rows;
}

void TFormCompare::WriteChecked() {
    const std::vector<const TParamRow*> rows = Checked();
    if (rows.empty())
        return;
    btnWrite->setEnabled(false);
    const TBulkReport report = Commands_.WriteAndVerify(rows, *File_);
    for (size_t i = 0; i < Rows_.size(); ++i) {
        if (std::find(rows.begin(), rows.end(), Rows_[i]) == rows.end())
            continue;
        const auto listed = [this, i](const std::vector<const TParamRow*>& rows) {
            return std::find(rows.begin(), rows.end(), Rows_[i]) != rows.end();
        };
        NotTaken_[i] = listed(report.NotTaken) || report.Stopped;
        // A value not read back is unknown: the device object holds the file's value then.
        Read_[i] = !report.Stopped && !listed(report.NotReadBack);
    }
    Fill();
    btnWrite->setEnabled(true);
}

void RunParamCompare(TGaugeCommands& commands, const QString& fileName, bool factory,
                     QWidget* parent) {
    TUlmar* gauge = commands.Ulmar();
    if (!gauge)
        return;
    const std::vector<const TParamRow*> rows = BulkRows(TBulkDirection::Write, factory);
    auto fileSet = std::make_shared<TUlmar>();
    fileSet->Name = gauge->Name;
    QString error;
    if (!LoadParamSet(fileName, rows, *fileSet, error)) {
        ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), error, QMessageBox::Ok,
                       QMessageBox::Ok, parent);
        return;
    }
    const TBulkReport report = commands.ReadRows(rows, true);
    if (report.Stopped || report.Silent())
        return;
    std::vector<bool> read(rows.size(), false);
    for (size_t i = 0; i < report.Steps.size(); ++i)
        read[i] = report.Steps[i].Outcome == TOutcome::Accepted;
    TFormCompare dialog(commands, fileName, rows, fileSet, read, parent);
    ExecModal(&dialog);
}
