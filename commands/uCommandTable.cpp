#include "uCommandTable.h"
#include "Ulmar.h"

#include <iterator>

namespace {

using enum TCommandId;
namespace C = UlmarCmd;
constexpr TCommandRun Once = TCommandRun::Once;
constexpr TCommandRun Retried = TCommandRun::Retried;
constexpr TCommandRun Sequence = TCommandRun::Sequence;

constexpr TCommandRow Rows[] = {
    {DistanceRead, "actDistanceRead", {"Считать Lт - текущее расстояние "}, C::DistanceRead, Once},
    {LevelFreeRead,
     "actLevelFreeRead",
     {"Считать Lс - свободное пространство "},
     C::LevelFreeRead,
     Once},
    {LevelRead, "actLevelRead", {"Считать Ну - текущий уровень "}, C::LevelRead, Once},
    {VolumeRead,
     "actVolumeRead",
     {"Считать V - текущий объем ", "Считать V - текущий объем"},
     C::VolumeRead,
     Once},
    {LevelAllRead,
     "actLevelAllRead",
     {"Считать Lт, Ну, Lc, V, состояние реле",
      "Считать показания расстояния, уровня, свободного пространства, объема, состояние реле"},
     C::LevelAllRead,
     Once},
    {FreqRead, "actFreqRead", {"Считать измеренную частоту"}, C::FreqRead, Once},
    {FreqOpChRead, "actFreqOpChRead", {"Считать частоту опорного канала"}, C::FreqOpChRead, Once},
    {TemperSVChModuleRead,
     "actTemperSVChModuleRead",
     {"Считать температуру внутри оболочки"},
     C::TemperSVChModuleRead,
     Retried},
    {TemperTermostatRead,
     "actTemperTermostatRead",
     {"Считать температуру внутри термостата"},
     C::TemperTermostatRead,
     Retried},
    {Echo, "actEcho", {"Эхо"}, C::Echo, Once},
    {SignatureRead,
     "actSignatureRead",
     {"Считать сигнатуру", "Считать сигнатуру прибора"},
     C::SignatureRead,
     Sequence},
    {AllParamRead,
     "actAllParamRead",
     {"Считать все параметры", "Считать все параметры из прибора"},
     -1,
     Sequence},
    {AllParamWrite,
     "actAllParamWrite",
     {"Записать все параметры ", "Записать все параметры в прибор"},
     -1,
     Sequence},
    {WriteToPZU, "actWriteToPZU", {"Сохранить параметры в ПЗУ"}, C::WriteToPZU, Sequence},
    {ZeroRead, "actZeroRead", {"Считать массив нулей"}, -1, Sequence},
    {InitReadStart,
     "actInitReadStart",
     {"Инициализация чтения массива", "Инициализация чтения массива данных"},
     C::InitReadStart,
     Once},
    {InitReadStop,
     "actInitReadStop",
     {"Завершение чтения массива", "Завершение чтения массива данных"},
     C::InitReadStop,
     Once},
    {BootLoader, "actBootLoader", {"Переход в режим программирования"}, C::BootLoader, Sequence},
};

static_assert(std::size(Rows) == static_cast<size_t>(TCommandId::Count));
static_assert(RowsInHandleOrder(Rows));

} // namespace

std::span<const TCommandRow> CommandRows() {
    return Rows;
}

const TCommandRow& CommandRow(TCommandId id) {
    return Rows[static_cast<int>(id)];
}

QString CommandName(TCommandId id) {
    return QString::fromLatin1(CommandRow(id).Name);
}

QString CommandHint(TCommandId id) {
    return TextHint(CommandRow(id).Text);
}
