#include "uBusScan.h"
#include "Ulmar.h"
#include "uGaugeIdentity.h"

#include <QSaveFile>
#include <algorithm>

namespace {

constexpr int LastAddress = 254;
constexpr int LastPlantNumber = 65535;

QString Num(int value) {
    return QString::number(value);
}

QString JoinNotes(const QStringList& notes) {
    return notes.join(QStringLiteral("; "));
}

// A CSV field: quoted when it holds the separator, a quote or a line break.
QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

TBusScan::TBusScan(TGaugeCommands& commands, IPollControl* poll)
    : Commands_(commands), Poll_(poll) {}

TBusScan::~TBusScan() {
    if (Running())
        Finish();
}

QString TBusScan::CollisionText() {
    return QStringLiteral("коллизия: два прибора на одном адресе?");
}

QString TBusScan::OutcomeText(TAddressWriteOutcome outcome) {
    switch (outcome) {
    case TAddressWriteOutcome::Written:
        return QStringLiteral("записан");
    case TAddressWriteOutcome::AlreadyThere:
        return QStringLiteral("уже на этом адресе");
    case TAddressWriteOutcome::Skipped:
        return QStringLiteral("пропущен: адрес занят");
    case TAddressWriteOutcome::NotAnswering:
        return QStringLiteral("не отвечает");
    case TAddressWriteOutcome::NotVerified:
        return QStringLiteral("не подтверждён");
    }
    return {};
}

QString TBusScan::ScanRangeRefusal(int from, int to) {
    if (from < 0 || from > LastAddress || to < 0 || to > LastAddress)
        return QStringLiteral("Недопустимый системный адрес (от 0 до 254)!");
    if (to < from)
        return QStringLiteral("Начальный системный адрес больше конечного!");
    return {};
}

QString TBusScan::WriteRangeRefusal(int startAddress, int startPlantNumber, int count) {
    if (startAddress < 0 || startAddress > LastAddress)
        return QStringLiteral("Недопустимый системный адрес (от 0 до 254)!");
    if (count < 1 || count > LastPlantNumber)
        return QStringLiteral("Количество приборов должно быть от 1 до 65535!");
    if (startAddress + count >= 256)
        return QStringLiteral("Недостаточно системных адресов (от 0 до 254)!\n"
                              "Начальный системный адрес = ") +
               Num(startAddress) + QStringLiteral("\nКоличество приборов = ") + Num(count) +
               QStringLiteral("\n\nНеобходимо уменьшить значения начального системного адреса "
                              "или количество приборов");
    if (startPlantNumber < 0 || startPlantNumber > LastPlantNumber ||
        startPlantNumber + count - 1 > LastPlantNumber)
        return QStringLiteral("Недостаточно заводских номеров (от 0 до 65535)!\n"
                              "Начальный заводской номер = ") +
               Num(startPlantNumber) + QStringLiteral("\nКоличество приборов = ") + Num(count) +
               QStringLiteral("\n\nНеобходимо уменьшить значения начального заводского номера "
                              "или количество приборов");
    return {};
}

QString TBusScan::StartScan(int from, int to) {
    const QString refusal = ScanRangeRefusal(from, to);
    if (!refusal.isEmpty())
        return refusal;
    return Begin(TBusJobKind::Scan, from, to);
}

QString TBusScan::StartAddressWrite(int startAddress, int startPlantNumber, int count) {
    const QString refusal = WriteRangeRefusal(startAddress, startPlantNumber, count);
    if (!refusal.isEmpty())
        return refusal;
    StartAddress_ = startAddress;
    return Begin(TBusJobKind::AddressWrite, startPlantNumber, startPlantNumber + count - 1);
}

QString TBusScan::Begin(TBusJobKind kind, int first, int last) {
    if (Running())
        Finish();
    Report_ = {};
    Plants_.clear();
    StopFlag_ = false;
    // Polling first: the cycle in flight ends before the identity is taken.
    if (Poll_)
        Pause_ = std::make_unique<TPollingPause>(*Poll_);
    if (const TUlmar* u = Commands_.Ulmar()) {
        Kept_ = std::make_unique<TGaugeIdentity>(TGaugeIdentity::Of(*u));
    }
    Commands_.Edit([this](TUlmar& u) {
        u.On32 = [this](TUlmar*, quint8 address, quint8 type, quint16 plant, quint8 hard,
                        quint8 soft) {
            Seen_ = TSignature{address, type, plant, hard, soft};
        };
    });
    Kind_ = kind;
    First_ = first;
    Last_ = last;
    Position_ = first;
    return {};
}

void TBusScan::Finish() {
    if (Kept_) {
        const TGaugeIdentity kept = *Kept_;
        Commands_.Edit([&kept](TUlmar& u) { kept.ApplyTo(u); });
    }
    Kept_.reset();
    Kind_ = TBusJobKind::None;
    Pause_.reset(); // polling starts again when it ran
    Commands_.Ui().Refresh();
}

bool TBusScan::Stopping() const {
    return StopFlag_ || (StopCheck && StopCheck()) || Commands_.Ui().Closing();
}

QString TBusScan::StatusText() const {
    switch (Kind_) {
    case TBusJobKind::Scan:
        return QStringLiteral("Чтение сигнатуры по системному адресу ") + Num(Position_);
    case TBusJobKind::AddressWrite:
        return QStringLiteral("Запись системного адреса ") +
               Num(StartAddress_ + Position_ - First_) + QStringLiteral(" по заводскому номеру ") +
               Num(Position_);
    case TBusJobKind::None:
        break;
    }
    return {};
}

bool TBusScan::Step() {
    if (!Running())
        return false;
    if (Stopping()) {
        Report_.Stopped = true;
        Finish();
        return false;
    }
    if (Kind_ == TBusJobKind::Scan)
        ScanStep();
    else
        WriteStep();
    ++Position_;
    if (Position_ > Last_) {
        Finish();
        return false;
    }
    return true;
}

TExchangeReport TBusScan::Exchange(int code, const std::function<void(TUlmar&)>& edit,
                                   std::optional<TSignature>* signature) {
    TExchangeReport report;
    Seen_.reset();
    TDeviceLink* link = Commands_.Link();
    if (link && Commands_.Edit(edit)) {
        link->RequestExecUlmar(code, &report);
        ++Report_.Requests;
    }
    if (signature)
        *signature = Seen_;
    return report;
}

TBusScan::TProbe TBusScan::Probe(quint8 address) {
    TProbe probe;
    // A garbled answer is asked once more: a single disturbance reads right the second time,
    // two gauges answering together stay garbled.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::optional<TSignature> signature;
        const TExchangeReport report = Exchange(
            UlmarCmd::SignatureRead, [address](TUlmar& u) { u.SystemAddress = address; },
            &signature);
        if (report.Accepted && signature) {
            probe.Answered = true;
            probe.Garbled = false;
            probe.Signature = signature;
            return probe;
        }
        if (!report.Answered)
            return probe;
        probe.Answered = true;
        probe.Garbled = true;
    }
    return probe;
}

void TBusScan::AddRow(TScanRow row, std::optional<TAddressWriteOutcome> outcome) {
    row.Number = static_cast<int>(Report_.Rows.size()) + 1;
    Report_.Rows.push_back(row);
    if (outcome)
        Report_.Outcomes.push_back(*outcome);
    if (OnRow)
        OnRow(Report_.Rows.back());
}

namespace {

void Identify(TScanRow& row, const TSignature& s) {
    row.Identified = true;
    row.PlantKnown = true;
    row.SystemAddress = s.SystemAddress;
    row.PlantNumber = s.PlantNumber;
    row.UnitType = s.UnitType;
    row.HardVersion = s.HardVersion;
    row.SoftVersion = s.SoftVersion;
}

} // namespace

void TBusScan::ScanStep() {
    const quint8 address = static_cast<quint8>(Position_);
    const TProbe probe = Probe(address);
    if (!probe.Answered)
        return;
    TScanRow row;
    row.Asked = address;
    row.SystemAddress = address;
    QStringList notes;
    if (probe.Signature) {
        Identify(row, *probe.Signature);
        if (row.SystemAddress != address) {
            row.WrongAddress = true;
            notes << QStringLiteral("ответ с адреса ") + Num(row.SystemAddress) +
                         QStringLiteral(" на запрос по адресу ") + Num(address);
        }
        const auto seen = Plants_.find(row.PlantNumber);
        if (seen != Plants_.end()) {
            row.DuplicatePlant = true;
            notes << QStringLiteral("тот же заводской номер, что по адресу ") + Num(seen->second);
        } else {
            Plants_.emplace(row.PlantNumber, address);
        }
    } else {
        row.Collision = true;
        notes << CollisionText();
    }
    row.Note = JoinNotes(notes);
    AddRow(row);
}

void TBusScan::WriteStep() {
    const quint16 plant = static_cast<quint16>(Position_);
    const quint8 target = static_cast<quint8>(StartAddress_ + Position_ - First_);
    TScanRow row;
    row.Asked = target;
    row.SystemAddress = target;
    row.PlantNumber = plant;
    row.PlantKnown = true;

    // Another gauge at the target address would answer together with this one afterwards.
    const TProbe before = Probe(target);
    if (before.Signature && before.Signature->PlantNumber == plant) {
        Identify(row, *before.Signature);
        row.Note = OutcomeText(TAddressWriteOutcome::AlreadyThere);
        return AddRow(row, TAddressWriteOutcome::AlreadyThere);
    }
    if (before.Answered) {
        QString note = OutcomeText(TAddressWriteOutcome::Skipped);
        if (before.Signature)
            note += QStringLiteral(" (заводской номер ") + Num(before.Signature->PlantNumber) +
                    QLatin1Char(')');
        else
            note += QStringLiteral(" (") + CollisionText() + QLatin1Char(')');
        row.Note = note;
        row.WriteFailed = true;
        return AddRow(row, TAddressWriteOutcome::Skipped);
    }

    const TExchangeReport write = Exchange(
        UlmarCmd::SystemAddressWrite,
        [plant, target](TUlmar& u) {
            u.SystemAddress = 255;
            u.PlantNumber = plant;
            u.SystemAddressNew = target;
        },
        nullptr);
    // The write that went out is always checked, also when a stop came meanwhile.
    const TProbe after = Probe(target);
    TAddressWriteOutcome outcome;
    if (after.Signature && after.Signature->PlantNumber == plant) {
        Identify(row, *after.Signature);
        outcome = TAddressWriteOutcome::Written;
    } else if (!write.Answered && !after.Answered) {
        outcome = TAddressWriteOutcome::NotAnswering;
    } else {
        outcome = TAddressWriteOutcome::NotVerified;
    }
    row.Note = OutcomeText(outcome);
    row.WriteFailed = outcome != TAddressWriteOutcome::Written;
    AddRow(row, outcome);
}

TBusJobReport TBusScan::Scan(int from, int to, const TProgress& progress) {
    const QString refusal = StartScan(from, to);
    if (!refusal.isEmpty()) {
        Report_ = {};
        Report_.Refusal = refusal;
        return Report_;
    }
    do {
        if (progress)
            progress(Position_, StatusText());
    } while (Step());
    return Report_;
}

TBusJobReport TBusScan::WriteAddresses(int startAddress, int startPlantNumber, int count,
                                       const TProgress& progress) {
    const QString refusal = StartAddressWrite(startAddress, startPlantNumber, count);
    if (!refusal.isEmpty()) {
        Report_ = {};
        Report_.Refusal = refusal;
        return Report_;
    }
    do {
        if (progress)
            progress(Position_, StatusText());
    } while (Step());
    return Report_;
}

const QStringList& ScanColumnTitles() {
    static const QStringList titles = {QStringLiteral("№"),
                                       QStringLiteral("Системный адрес"),
                                       QStringLiteral("Заводской номер"),
                                       QStringLiteral("Тип устройства"),
                                       QStringLiteral("АВ"),
                                       QStringLiteral("ПВ"),
                                       QStringLiteral("Примечание")};
    return titles;
}

QStringList ScanRowCells(const TScanRow& row) {
    const auto known = [&row](int value) { return row.Identified ? Num(value) : QString(); };
    return {Num(row.Number),
            Num(row.SystemAddress),
            row.PlantKnown ? Num(row.PlantNumber) : QString(),
            known(row.UnitType),
            known(row.HardVersion),
            known(row.SoftVersion),
            row.Note};
}

bool SaveScanCsv(const QString& fileName, const std::vector<TScanRow>& rows, QString* error) {
    QString text;
    auto line = [&text](const QStringList& cells) {
        QStringList fields;
        for (const QString& cell : cells)
            fields << CsvField(cell);
        text += fields.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    };
    line(ScanColumnTitles());
    for (const TScanRow& row : rows)
        line(ScanRowCells(row));
    QSaveFile file(fileName);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

std::vector<quint8> FoundAddresses(const std::vector<TScanRow>& rows) {
    std::vector<quint8> addresses;
    for (const TScanRow& row : rows) {
        if (!row.Identified || row.Collision || row.WrongAddress || row.SystemAddress == 255)
            continue;
        if (std::find(addresses.begin(), addresses.end(), row.SystemAddress) == addresses.end())
            addresses.push_back(row.SystemAddress);
    }
    return addresses;
}
