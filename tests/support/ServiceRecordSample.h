#pragma once
// A whole service record made by hand, as a session of a gauge would leave it: every parameter
// of the bulk read set as found and as left (two changed, one that failed to read as found),
// tare tables that differ in one point, a run test of five rows that passes, zero arrays that
// differ, three writes. Tests change what they look at.

#include "uParamTable.h"
#include "uServiceRecord.h"

#include <QDateTime>

inline TServiceRecord SampleServiceRecord() {
    TServiceRecord r;
    r.Site = QStringLiteral("НПС «Северная», резервуар РВС-5000 №3");
    r.Tag = QStringLiteral("LT-301");
    r.Technician = QStringLiteral("Иванов П. С.");
    r.Started = QStringLiteral("2026-03-05T07:12:40.000Z");
    r.Finished = QStringLiteral("2026-03-05T09:48:02.500Z");
    r.State = TServiceState::Finished;
    r.Gauge = {.Address = 1,
               .BaudRate = 9600,
               .Port = QStringLiteral("/dev/ttyUSB0"),
               .PlantNumber = 4711,
               .UnitType = 2,
               .HardVersion = 3,
               .SoftVersion = 17};
    r.AsFound.Gauge = r.Gauge;
    r.AsLeft.Gauge = r.Gauge;
    int n = 0;
    for (const TParamRow* row : BulkRows(TBulkDirection::Read, false)) {
        TServiceParam p;
        p.Key = QString::fromLatin1(row->Key);
        p.Caption = ParamTitle(*row);
        p.Value = 100.0 + 2.5 * n++;
        p.Text = QString::number(*p.Value, 'f', 1);
        p.ReadOk = true;
        r.AsFound.Parameters.push_back(p);
        r.AsLeft.Parameters.push_back(p);
    }
    // As left: the second and the fifth changed; as found: the fourth not read.
    r.AsLeft.Parameters[1].Value = 12345.75;
    r.AsLeft.Parameters[1].Text = QStringLiteral("12345.75");
    r.AsLeft.Parameters[4].Value = 0.5;
    r.AsLeft.Parameters[4].Text = QStringLiteral("0.5");
    r.AsFound.Parameters[3].ReadOk = false;
    r.AsFound.Parameters[3].Text.clear();
    r.AsFound.Parameters[3].Value.reset();
    r.AsFound.Failed.push_back(
        {ServiceStepName(ServiceStepParameters),
         QStringLiteral("Параметры не считаны (1 из %1): %2 — прибор не ответил")
             .arg(r.AsFound.Parameters.size())
             .arg(r.AsFound.Parameters[3].Caption)});
    for (int i = 0; i < 12; ++i) {
        r.AsFound.Tare.push_back({i * 1000.0, i * 8.25});
        r.AsLeft.Tare.push_back({i * 1000.0, i * 8.25});
    }
    r.AsLeft.Tare[6].Volume = 50.125;
    const unsigned readSteps =
        ServiceStepSignature | ServiceStepParameters | ServiceStepTare | ServiceStepZero;
    r.AsFound.Done = readSteps & ~unsigned(ServiceStepParameters);
    r.AsLeft.Done = readSteps;
    r.AsFound.Taken = QStringLiteral("2026-03-05T07:12:41.120Z");
    r.AsLeft.Taken = QStringLiteral("2026-03-05T09:47:30.004Z");
    r.AsFound.ParamFile = QStringLiteral("asFound.ini");
    r.AsLeft.ParamFile = QStringLiteral("asLeft.ini");
    // Zero arrays: 20 positions as found; as left two of them moved and one more.
    r.AsFound.Zero.assign(256, 0);
    r.AsFound.Zero[0] = 20;
    r.AsFound.Zero[1] = 900;
    r.AsFound.Zero[2] = 9800;
    for (int i = 0; i < 20; ++i)
        r.AsFound.Zero[static_cast<std::size_t>(3 + i)] = 1200 + i * 410;
    r.AsLeft.Zero = r.AsFound.Zero;
    r.AsLeft.Zero[0] = 21;
    r.AsLeft.Zero[2] = 9900;
    r.AsLeft.Zero[5] += 90;
    r.AsLeft.Zero[9] -= 60;
    r.AsLeft.Zero[23] = 9500;
    const double tapes[] = {1500, 3500, 5500, 7500, 9500};
    const double levelErrors[] = {0.8, -1.2, 2.1, -0.4, 1.5};
    const double currentErrors[] = {0.004, -0.011, 0.02, 0.0, -0.015};
    for (int i = 0; i < 5; ++i) {
        TServiceRunRow row;
        row.Tape = tapes[i];
        row.ReferenceLevel = 12000 - tapes[i];
        row.MeasuredLevel = row.ReferenceLevel + levelErrors[i];
        row.LevelDifference = levelErrors[i];
        row.ReferenceCurrent = 4 + 16 * row.ReferenceLevel / 12000;
        row.MeasuredCurrent = row.ReferenceCurrent + currentErrors[i];
        row.CurrentDifference = currentErrors[i];
        row.Filled = true;
        r.RunTest.Rows.push_back(row);
    }
    r.RunTest.Recorded = QStringLiteral("2026-03-05T09:30:11.000Z");
    const auto write = [&r](const char* time, int code, const QString& name, const QString& key,
                            const QString& value, TServiceOutcome outcome) {
        r.Writes.push_back({QString::fromLatin1(time), 1, code, name, key, value, outcome});
    };
    const TServiceParam& p1 = r.AsLeft.Parameters[1];
    const TServiceParam& p4 = r.AsLeft.Parameters[4];
    write("2026-03-05T08:02:10.250Z", 40, p1.Caption, p1.Key, p1.Text, TServiceOutcome::Accepted);
    write("2026-03-05T08:05:44.010Z", 41, p4.Caption, p4.Key, QStringLiteral("0.4"),
          TServiceOutcome::NoAnswer);
    write("2026-03-05T08:06:02.900Z", 41, p4.Caption, p4.Key, p4.Text, TServiceOutcome::Accepted);
    return r;
}
