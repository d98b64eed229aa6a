#include "uParamTable.h"
#include "Ulmar.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace {

using enum TParamId;
namespace C = UlmarCmd;
constexpr TParamSet Common = TParamSet::Common;
constexpr TParamSet Factory = TParamSet::Factory;
constexpr unsigned ChangeReadWrite = VerbChange | VerbRead | VerbWrite;
constexpr double Billion = 1000000000;

constexpr TRadioChoice ModeImageChoices[] = {{"Lт - Текущее расстояние", ""},
                                             {"Ну - Текущий уровеь", ""},
                                             {"Lс - Свободное пространство", ""},
                                             {"V - Текущий объем", ""}};
constexpr TRadioChoice CurrentOutputChoices[] = {
    {"0... 5 mA", "0... 5 mA - Режим работы токового выхода"},
    {"4... 20 mA", "4... 20 mA - Режим работы токового выхода"},
    {"0...20 mA", "0...20 mA - Режим работы токового выхода"}};
constexpr TRadioChoice ProgramTypeChoices[] = {{"УЛМАР-10", "Программа для УЛМАР-10"},
                                               {"УЛМАР-20", "Программа для УЛМАР-20"}};
constexpr TRadioChoice InputFilterChoices[] = {
    {"Включен", "Режим работы входного фильтра - Включен"},
    {"Выключен", "Режим работы входного фильтра - Выключен"}};
constexpr TRadioChoice ChannelChoices[] = {
    {"Канал со следящим фильтром", "Канал со следящим фильтром"},
    {"Канал с усилителем ограничителем", "Канал с усилителем ограничителем"}};
constexpr TRadioChoice CalibrChoices[] = {
    {"По линейному закону", "Режим работы калибровки - по линейному закону"},
    {"По квадратичному закону", "Режим работы калибровки - по квадратичному закону"}};
constexpr TRadioChoice TermostatChoices[] = {{"Выключен", "Режим работы термостата - Выключен"},
                                             {"Включен", "Режим работы термостата - Включен"}};
constexpr TRadioChoice TypeSVCHChoices[] = {
    {"ППМ-A1", ""}, {"ППМ-A2", ""}, {"ППМ-B1", ""}, {"ППМ-B2", ""}, {"ППМ-B3", ""}};

// A relay set-point: the four rows differ only in their names, codes and place.
constexpr TParamRow SetPoint(TParamId id, const char* key, const char* change,
                             const char* changeHint, const char* prompt, int readCode,
                             const char* read, int writeCode, const char* write, double TUlmar::*f,
                             int order) {
    return {.Id = id,
            .Key = key,
            .Stem = key,
            .Field = f,
            .ChangeName = key,
            .Change = {change, changeHint},
            .Dialog = {prompt, 0, 0, 0, true},
            .ReadCode = readCode,
            .Read = {read},
            .WriteCode = writeCode,
            .Write = {write},
            .WriteNamedByChange = true,
            .ReadSet = Common,
            .WriteSet = Common,
            .BulkOrder = order,
            .InFile = true,
            .FileRead = true};
}

constexpr TParamRow Rows[] = {
    {.Id = PlantNumber,
     .Key = "PlantNumber",
     .Stem = "PlantNumber",
     .Field = &TUlmar::PlantNumber,
     .Change = {"Заводской номер", "Изменить заводской номер"},
     .Dialog = {"Заводской номер [0..65535]", -1, 0, 65535},
     .ReadCode = C::PlantNumberRead,
     .Read = {"Считать заводской номер", "Считать заводской номер из прибора"},
     .WriteCode = C::PlantNumberWrite,
     .Write = {"Записать заводской номер", "Записать заводской номер в прибор"},
     .DialogWrite = true,
     .FactoryOnly = VerbChange | VerbWrite,
     .WhilePolling = VerbChange,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 65535},
    {.Id = HardVersion,
     .Key = "HardVersion",
     .Stem = "HardVersion",
     .Field = &TUlmar::HardVersion,
     .InFile = true,
     .Title = "Аппаратная версия"},
    {.Id = SoftVersion,
     .Key = "SoftVersion",
     .Stem = "SoftVersion",
     .Field = &TUlmar::SoftVersion,
     .InFile = true,
     .Title = "Программная версия"},
    {.Id = SystemAddress,
     .Key = "SystemAddress",
     .Stem = "SystemAddress",
     .Field = &TUlmar::SystemAddress,
     .Change = {"Системный адрес", "Изменить системный адрес"},
     .Dialog = {"Системный адрес", -1, 0, 255},
     .WriteCode = C::SystemAddressWrite,
     .Write = {"Записать системный адрес", "Записать системный адрес в прибор"},
     .DialogWrite = true,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 255},
    {.Id = UserPsw,
     .Key = "UserPsw",
     .Stem = "UserPsw",
     .Field = &TUlmar::UserPsw,
     .Change = {"Пароль", "Изменить пользовательский пароль"},
     .Dialog = {"Пароль", -1, 0, 65535},
     .ReadCode = C::UserPswRead,
     .Read = {"Считать пароль"},
     .WriteCode = C::UserPswWrite,
     .Write = {"Записать пароль"},
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 9,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 65535},
    {.Id = PPM,
     .Key = "PPM",
     .Stem = "PPM",
     .Field = &TUlmar::PPM,
     .Change = {"Номер ММП", "Изменить номер ММП"},
     .Dialog = {"Номер ППМ"},
     .InFile = true,
     .FileRead = true},
    {.Id = NNZ,
     .Key = "NNZ",
     .Stem = "NNZ",
     .Field = &TUlmar::NNZ,
     .Change = {"Номер наряд-заказа", "Изменить номер наряд-заказа"},
     .Dialog = {"Номер Н/З"},
     .InFile = true,
     .FileRead = true},
    {.Id = Dist1,
     .Key = "Dist1",
     .Stem = "Dist1",
     .Field = TRealAccessor{&TUlmar::Dist1, &TUlmar::SetDist1},
     .Change = {"dist.1 - Неизмеряемый участок"},
     .Dialog = {"dist.1 - Неизмеряемый участок, мм", 0, 0, 50000},
     .ReadCode = C::Dist1Read,
     .Read = {"Считать dist.1 - Неизмеряемый участок"},
     .WriteCode = C::Dist1Write,
     .Write = {"Записать dist.1 - Неизмеряемый участок"},
     .CommitAfterFailedWrite = true,
     .ReadUpdatesRanges = true,
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 1,
     .InFile = true,
     .FileRead = true},
    {.Id = Dist2,
     .Key = "Dist2",
     .Stem = "Dist2",
     .Field = TRealAccessor{&TUlmar::Dist2, &TUlmar::SetDist2},
     .Change = {"dist.2 - Максимальный уровень"},
     .Dialog = {"dist.2 - Максимальный уровень, мм", 0, 0, 50000},
     .ReadCode = C::Dist2Read,
     .Read = {"Считать dist.2 - Максимальный уровень"},
     .WriteCode = C::Dist2Write,
     .Write = {"Записать dist.2 - Максимальный уровень"},
     .ReadUpdatesRanges = true,
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 2,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 30000},
    {.Id = KKalman,
     .Key = "KKalman",
     .Stem = "KKalman",
     .Field = TRealAccessor{&TUlmar::KKalman, &TUlmar::SetKKalman},
     .Change = {"Ку - Коэффициент усреднения", "Изменить коэффициент сглаживания"},
     .Dialog = {"Коэффициент усреднения (от 0.0001 до 1)", 4, 0.0001, 1},
     .ReadCode = C::KKalmanRead,
     .Read = {"Считать Ку - коэффициент усреднения",
              "Считать Ку - коэффициент усреднения из прибора"},
     .WriteCode = C::KKalmanWrite,
     .Write = {"Записать Ку - коэффициент усреднения",
               "Записать Ку - коэффициент усреднения в прибор"},
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 7,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 1},
    SetPoint(Relay1Ust1, "Relay1Ust1", "Реле 1 - Уставка 1",
             "Изменить значение: Реле 1 - Уставка 1", "Реле 1 уставка 1, мм", C::Relay1Ust1Read,
             "Считать Реле 1 - Уставка 1", C::Relay1Ust1Write, "Записать Реле 1 - Уставка 1",
             &TUlmar::Relay1Ust1, 3),
    SetPoint(Relay1Ust2, "Relay1Ust2", "Реле 1 - Уставка 2",
             "Изменить значение: Реле 1 - Уставка 2", "Реле 1 уставка 2, мм", C::Relay1Ust2Read,
             "Считать Реле 1 - Уставка 2", C::Relay1Ust2Write, "Записать Реле 1 - Уставка 2",
             &TUlmar::Relay1Ust2, 4),
    SetPoint(Relay2Ust1, "Relay2Ust1", "Реле 2 - Уставка 1",
             "Изменить значение: Реле 2 - Уставка 1", "Реле 2 уставка 1, мм", C::Relay2Ust1Read,
             "Считать Реле 2 - Уставка 1", C::Relay2Ust1Write, "Записать Реле 2 - Уставка 1",
             &TUlmar::Relay2Ust1, 5),
    SetPoint(Relay2Ust2, "Relay2Ust2", "Реле 2 - Уставка 2",
             "Изменить значение: Реле 2 - Уставка 2", "Реле 2 уставка 2, мм", C::Relay2Ust2Read,
             "Считать Реле 2 - Уставка 2", C::Relay2Ust2Write, "Записать Реле 2 - Уставка 2",
             &TUlmar::Relay2Ust2, 6),
    {.Id = ModeImage,
     .Key = "ModeImage",
     .Stem = "ModeImage",
     .Field = &TUlmar::ModeImage,
     .Change = {"Режим отображения", "Изменить режим отображения"},
     .Dialog = {"Режим отображения: 1-Lт, 2-Ну, 3-Lc, 4-V", -1, 1, 4},
     .ReadCode = C::ModeImageRead,
     .Read = {"Считать режим отображения", "Считать режим отображения из прибора"},
     .WriteCode = C::ModeImageWrite,
     .Write = {"Записать режим отображения", "Записать режим отображения в прибор"},
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 10,
     .InFile = true,
     .FileRead = true,
     .FileDefault = 1,
     .RadioFirst = 1,
     .Radio = ModeImageChoices},
    {.Id = ModeCurrentOutput,
     .Key = "ModeCurrentOutput",
     .Stem = "ModeCurrentOutput",
     .Field = &TUlmar::ModeCurrentOutput,
     .Change = {"Режим работы токового выхода", "Изменить режим работы токового выхода"},
     .Dialog = {"Режим работы токового выхода [0]-0...5 мА, [1]-4...20 мА, [2]-0...20 мА", -1, 0,
                2},
     .ReadCode = C::ModeCurrentOutputRead,
     .Read = {"Считать режим работы токового выхода"},
     .WriteCode = C::ModeCurrentOutputWrite,
     .Write = {"Записать режим работы токового выхода"},
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 11,
     .InFile = true,
     .FileRead = true,
     .Radio = CurrentOutputChoices},
    // Read with the common set, but written only in factory mode.
    {.Id = ProgramType,
     .Key = "ProgramType",
     .Stem = "ProgramType",
     .Field = &TUlmar::ProgramType,
     .Change = {"Тип программы", "Изменить тип программы"},
     .Dialog = {"Тип программы [0]-УЛМАР-10, [1]-УЛМАР-20", -1, 0, 1},
     .ReadCode = C::ProgramTypeRead,
     .Read = {"Считать тип программы"},
     .WriteCode = C::ProgramTypeWrite,
     .Write = {"Записать тип программы"},
     .ReadSet = Common,
     .WriteSet = Factory,
     .BulkOrder = 12,
     .FactoryOnly = VerbWrite,
     .InFile = true,
     .FileRead = true,
     .Radio = ProgramTypeChoices},
    {.Id = ModeProcessing,
     .Key = "ModeProcessing",
     .Stem = "ModeProcessing",
     .Field = &TUlmar::ModeProcessing,
     .Change = {"Режим обработки", "Изменить режим обработки"},
     .Dialog = {"Режим обработки", -1, 0, 255},
     .ReadCode = C::ModeProcessingRead,
     .Read = {"Считать режим обработки"},
     .WriteCode = C::ModeProcessingWrite,
     .Write = {"Записать режим обработки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 13,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = ModeInputFilter,
     .Key = "ModeInputFilter",
     .Stem = "ModeInputFilter",
     .Field = &TUlmar::ModeInputFilter,
     .Change = {"Режим работы входного фильтра"},
     .Dialog = {"Режим работы входного фильтра: [0]-включен, [1]-выключен", -1, 0, 1},
     .ReadCode = C::ModeInputFilterRead,
     .Read = {"Считать режим работы входного фильтра"},
     .WriteCode = C::ModeInputFilterWrite,
     .Write = {"Записать режим работы входного фильтра"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 14,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true,
     .Radio = InputFilterChoices},
    {.Id = ModeChannel,
     .Key = "ModeChannel",
     .Stem = "ModeChannel",
     .Field = &TUlmar::ModeChannel,
     .Change = {"Режим работы по каналам"},
     .Dialog = {"Режим работы по каналам: [0]-со следящим фильтром, [1]-с усилителем "
                "ограничителем",
                -1, 0, 1},
     .ReadCode = C::ModeChannelRead,
     .Read = {"Считать режим работы по каналам"},
     .WriteCode = C::ModeChannelWrite,
     .Write = {"Записать режим работы по каналам"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 15,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true,
     .Radio = ChannelChoices},
    {.Id = ModeCalibr,
     .Key = "ModeCalibr",
     .Stem = "ModeCalibr",
     .Field = &TUlmar::ModeCalibr,
     .Change = {"Режим работы калибровки", "Изменить режим работы калибровки"},
     .Dialog = {"Режим работы калибровки: [0]-по линейному закону, [1]-по квадратичному закону", -1,
                0, 1},
     .ReadCode = C::ModeCalibrRead,
     .Read = {"Считать режим работы калибровки"},
     .WriteCode = C::ModeCalibrWrite,
     .Write = {"Записать режим работы калибровки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 16,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true,
     .Radio = CalibrChoices,
     .RadioCheck = true},
    {.Id = ModeTermostat,
     .Key = "ModeTermostat",
     .Stem = "ModeTermostat",
     .Field = &TUlmar::ModeTermostat,
     .Change = {"Режим работы термостата"},
     .Dialog = {"Режим работы термостата: [0]-выключен, [1]-включен", -1, 0, 1},
     .ReadCode = C::ModeTermostatRead,
     .Read = {"Считать режим работы термостата"},
     .WriteCode = C::ModeTermostatWrite,
     .Write = {"Записать режим работы термостата"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 17,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true,
     .Radio = TermostatChoices,
     .RadioCheck = true},
    {.Id = KrPer,
     .Key = "KrPer",
     .Stem = "KrPer",
     .Field = &TUlmar::KrPer,
     .Change = {"Крутизна характеристики преобразования",
                "Изменить крутизну характеристики преобразования"},
     .Dialog = {"Крутизну передаточной характеристики", 8, 0, Billion},
     .ReadCode = C::KrPerRead,
     .Read = {"Считать крутизну характеристики преобразования",
              "Считать крутизну характеристики преобразования из прибора"},
     .WriteCode = C::KrPerWrite,
     .Write = {"Записать крутизну характеристики преобразования",
               "Записать крутизну характеристики преобразования в прибор"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 19,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = SmPer,
     .Key = "SmPer",
     .Stem = "SmPer",
     .Field = &TUlmar::SmPer,
     .Change = {"Смещение передаточной характеристики",
                "Изменить смещение передаточной характеристики"},
     .Dialog = {"Смещение передаточной характеристики", 8, -Billion, Billion},
     .ReadCode = C::SmPerRead,
     .Read = {"Считать смещение передаточной характеристики"},
     .WriteCode = C::SmPerWrite,
     .Write = {"Записать смещение передаточной характеристики"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 20,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = KrPerOpCh,
     .Key = "KrPerOpCh",
     .Stem = "KrPerOpCh",
     .Field = &TUlmar::KrPerOpCh,
     .Change = {"Крутизна характеристики преобразования опорного канала",
                "Изменить крутизну характеристики преобразования опорного канала"},
     .Dialog = {"Крутизну передаточной характеристики опорного канала", 8, -Billion, Billion},
     .ReadCode = C::KrPerOpChRead,
     .Read = {"Считать крутизну характеристики преобразования опорного канала"},
     .WriteCode = C::KrPerOpChWrite,
     .Write = {"Записать крутизну характеристики преобразования опорного канала"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 21,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = SmPerOpCh,
     .Key = "SmPerOpCh",
     .Stem = "SmPerOpCh",
     .Field = &TUlmar::SmPerOpCh,
     .Change = {"Смещение передаточной характеристики опорного канала",
                "Изменить смещение передаточной характеристики опорного канала"},
     .Dialog = {"Смещение передаточной характеристики опорного канала", 8, -Billion, Billion},
     .ReadCode = C::SmPerOpChRead,
     .Read = {"Считать смещение передаточной характеристики опорного канала"},
     .WriteCode = C::SmPerOpChWrite,
     .Write = {"Записать смещение передаточной характеристики опорного канала"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 22,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = FreqCalibr,
     .Key = "FreqCalibr",
     .Stem = "FreqCalibr",
     .Field = &TUlmar::FreqCalibr,
     .Change = {"Частота калибровки", "Изменить частоту калибровки"},
     .Dialog = {"Частота калибровки", 3, -Billion, Billion},
     .ReadCode = C::FreqCalibrRead,
     .Read = {"Считать частоту калибровки"},
     .WriteCode = C::FreqCalibrWrite,
     .Write = {"Записать частоту калибровки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 23,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = KKK1,
     .Key = "kkk1",
     .Stem = "KKK1",
     .Field = &TUlmar::kkk1,
     .Change = {"Первый коэффициент квадратичной калибровки",
                "Изменить первый коэффициент квадратичной калибровки"},
     .Dialog = {"1-й коэффициент квадратичной калибровки", 8, -Billion, Billion},
     .ReadCode = C::KKK1Read,
     .Read = {"Считать первый коэффициент квадратичной калибровки"},
     .WriteCode = C::KKK1Write,
     .Write = {"Записать первый коэффициент квадратичной калибровки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 24,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = KKK2,
     .Key = "kkk2",
     .Stem = "KKK2",
     .Field = &TUlmar::kkk2,
     .Change = {"Второй коэффициент квадратичной калибровки",
                "Изменить второй коэффициент квадратичной калибровки"},
     .Dialog = {"2-й коэффициент квадратичной калибровки", 8, -Billion, Billion},
     .ReadCode = C::KKK2Read,
     .Read = {"Считать второй коэффициент квадратичной калибровки"},
     .WriteCode = C::KKK2Write,
     .Write = {"Записать второй коэффициент квадратичной калибровки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 25,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = KKK3,
     .Key = "kkk3",
     .Stem = "KKK3",
     .Field = &TUlmar::kkk3,
     .Change = {"Третий коэффициент квадратичной калибровки",
                "Изменить третий коэффициент квадратичной калибровки"},
     .Dialog = {"3-й коэффициент квадратичной калибровки", 8, -Billion, Billion},
     .ReadCode = C::KKK3Read,
     .Read = {"Считать третий коэффициент квадратичной калибровки"},
     .WriteCode = C::KKK3Write,
     .Write = {"Записать третий коэффициент квадратичной калибровки"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 26,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = Speed,
     .Key = "Speed",
     .Stem = "Speed",
     .Field = TRealAccessor{&TUlmar::Speed, &TUlmar::SetSpeed},
     .Change = {"Скорость изменения показаний"},
     .Dialog = {"Скорость изменения показаний (от 0 до 99,999), мм/с", 3, 0, 99.999},
     .ReadCode = C::SpeedRead,
     .Read = {"Считать скорость изменения показаний"},
     .WriteCode = C::SpeedWrite,
     .Write = {"Записать скорость изменения показаний"},
     .ReadSet = Common,
     .WriteSet = Common,
     .BulkOrder = 8,
     .WhilePolling = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = TemperCompareTermostat,
     .Key = "TemperCompareTermostat",
     .Stem = "TemperCompareTermostat",
     .Field = &TUlmar::TemperCompareTermostat,
     .Change = {"Температура сравнения для термостата",
                "Изменить температуру сравнения для термостата"},
     .Dialog = {"Температура сравнения для термостата -40...+80,°С", -1, -40, 80},
     .ReadCode = C::TemperCompareTermostatRead,
     .Read = {"Считать температуру сравнения для термостата"},
     .WriteCode = C::TemperCompareTermostatWrite,
     .Write = {"Записать температуру сравнения для термостата"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 18,
     .FactoryOnly = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = PlantNumberSVCH,
     .Key = "PlantNumberSVCH",
     .Stem = "PlantNumberSVCH",
     .Field = &TUlmar::PlantNumberSVCH,
     .Change = {"Заводской номер СВЧ модуля"},
     .Dialog = {"Заводской номер СВЧ модуля [0..65535]", -1, 0, 65535},
     .ReadCode = C::PlantNumberSVCHRead,
     .Read = {"Считать заводской номер СВЧ модуля"},
     .WriteCode = C::PlantNumberSVCHWrite,
     .Write = {"Записать заводской номер СВЧ модуля"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 27,
     .FactoryOnly = VerbRead | VerbWrite,
     .WhilePolling = ChangeReadWrite,
     .InFile = true,
     .FileRead = true},
    {.Id = TypeSVCH,
     .Key = "TypeSVCH",
     .Stem = "TypeSVCH",
     .Field = &TUlmar::TypeSVCH,
     .ReadCode = C::TypeSVCHRead,
     .Read = {"Считать тип СВЧ модуля"},
     .WriteCode = C::TypeSVCHWrite,
     .Write = {"Записать тип СВЧ модуля"},
     .ReadSet = Factory,
     .WriteSet = Factory,
     .BulkOrder = 28,
     .FactoryOnly = VerbRead | VerbWrite,
     .WhilePolling = VerbRead | VerbWrite | VerbRadio,
     .InFile = true,
     .FileRead = true,
     .Radio = TypeSVCHChoices,
     .Title = "Тип СВЧ модуля"},
    {.Id = LevelKalibr,
     .Key = "LevelKalibr",
     .Stem = "LevelKalibr",
     .Field = TRealAccessor{&TUlmar::LevelKalibr, &TUlmar::SetLevelKalibr},
     .Change = {"Ну - Текущий уровень ", "Изменить Ну - Текущий уровень для калибровки"},
     .Dialog = {"Текущий уровень продукта (для калибровки) Hу, мм", 0, 0, 50000},
     .WriteCode = C::LevelKalibrWrite,
     .Write = {"Записать текущий уровень", "Записать текущий уровень для калибровки в прибор"},
     .FactoryOnly = VerbChange | VerbWrite},
};

static_assert(std::size(Rows) == static_cast<size_t>(TParamId::Count));
static_assert(RowsInHandleOrder(Rows));

// The names of the parameters in ulmar-cli's JSON (camelCase English), one per row.
struct TJsonName {
    TParamId Id;
    const char* Name;
};
constexpr TJsonName JsonNames[] = {
    {TParamId::PlantNumber, "plantNumber"},
    {TParamId::HardVersion, "hardVersion"},
    {TParamId::SoftVersion, "softVersion"},
    {TParamId::SystemAddress, "systemAddress"},
    {TParamId::UserPsw, "userPsw"},
    {TParamId::PPM, "ppm"},
    {TParamId::NNZ, "nnz"},
    {TParamId::Dist1, "dist1"},
    {TParamId::Dist2, "dist2"},
    {TParamId::KKalman, "kKalman"},
    {TParamId::Relay1Ust1, "relay1Ust1"},
    {TParamId::Relay1Ust2, "relay1Ust2"},
    {TParamId::Relay2Ust1, "relay2Ust1"},
    {TParamId::Relay2Ust2, "relay2Ust2"},
    {TParamId::ModeImage, "modeImage"},
    {TParamId::ModeCurrentOutput, "modeCurrentOutput"},
    {TParamId::ProgramType, "programType"},
    {TParamId::ModeProcessing, "modeProcessing"},
    {TParamId::ModeInputFilter, "modeInputFilter"},
    {TParamId::ModeChannel, "modeChannel"},
    {TParamId::ModeCalibr, "modeCalibr"},
    {TParamId::ModeTermostat, "modeTermostat"},
    {TParamId::KrPer, "krPer"},
    {TParamId::SmPer, "smPer"},
    {TParamId::KrPerOpCh, "krPerOpCh"},
    {TParamId::SmPerOpCh, "smPerOpCh"},
    {TParamId::FreqCalibr, "freqCalibr"},
    {TParamId::KKK1, "kkk1"},
    {TParamId::KKK2, "kkk2"},
    {TParamId::KKK3, "kkk3"},
    {TParamId::Speed, "speed"},
    {TParamId::TemperCompareTermostat, "temperCompareTermostat"},
    {TParamId::PlantNumberSVCH, "plantNumberSvch"},
    {TParamId::TypeSVCH, "typeSvch"},
    {TParamId::LevelKalibr, "levelKalibr"},
};
static_assert(std::size(JsonNames) == static_cast<size_t>(TParamId::Count));
static_assert(RowsInHandleOrder(JsonNames));

// The windows' view of each row: menu places and the parameters window's value rows.
constexpr TParamMenu Params = TParamMenu::Parameters;
constexpr TParamMenu FactoryMenu = TParamMenu::Factory;
constexpr TParamView Views[] = {
    {.Id = PlantNumber,
     .Menu = Params,
     .MenuSection = 1,
     .MenuOrder = 2,
     .ReadWriteSection = 1,
     .ReadWriteOrder = 2,
     .PanelCaption = "Заводской номер"},
    {.Id = HardVersion, .PanelCaption = "Аппаратная версия"},
    {.Id = SoftVersion, .PanelCaption = "Программная версия"},
    {.Id = SystemAddress,
     .Menu = Params,
     .MenuSection = 1,
     .MenuOrder = 1,
     .ReadWriteSection = 1,
     .ReadWriteOrder = 1,
     .PanelCaption = "Системный адрес"},
    {.Id = UserPsw,
     .Menu = Params,
     .MenuSection = 5,
     .MenuOrder = 3,
     .ReadWriteSection = 5,
     .ReadWriteOrder = 3,
     .PanelCaption = "Пароль"},
    {.Id = PPM},
    {.Id = NNZ},
    {.Id = Dist1,
     .Menu = Params,
     .MenuSection = 3,
     .MenuOrder = 1,
     .ReadWriteSection = 3,
     .ReadWriteOrder = 1,
     .PanelCaption = "dist.1 - Неизмеряемый участок, мм",
     .PanelWidth = 10,
     .PanelDecimals = 0},
    {.Id = Dist2,
     .Menu = Params,
     .MenuSection = 3,
     .MenuOrder = 2,
     .ReadWriteSection = 3,
     .ReadWriteOrder = 2,
     .PanelCaption = "dist.2 - Максимальный уровень, мм",
     .PanelWidth = 10,
     .PanelDecimals = 0},
    {.Id = KKalman,
     .Menu = Params,
     .MenuSection = 5,
     .MenuOrder = 1,
     .ReadWriteSection = 5,
     .ReadWriteOrder = 1,
     .PanelCaption = "Коэффициент усреднения",
     .PanelWidth = 9,
     .PanelDecimals = 4},
    {.Id = Relay1Ust1,
     .Menu = Params,
     .MenuSection = 4,
     .MenuOrder = 1,
     .ReadWriteSection = 4,
     .ReadWriteOrder = 1,
     .PanelCaption = "Уставка 1",
     .PanelWidth = 9,
     .PanelDecimals = 0},
    {.Id = Relay1Ust2,
     .Menu = Params,
     .MenuSection = 4,
     .MenuOrder = 2,
     .ReadWriteSection = 4,
     .ReadWriteOrder = 2,
     .PanelCaption = "Уставка 2",
     .PanelWidth = 9,
     .PanelDecimals = 0},
    {.Id = Relay2Ust1,
     .Menu = Params,
     .MenuSection = 4,
     .MenuOrder = 3,
     .ReadWriteSection = 4,
     .ReadWriteOrder = 3,
     .PanelCaption = "Уставка 1",
     .PanelWidth = 9,
     .PanelDecimals = 0},
    {.Id = Relay2Ust2,
     .Menu = Params,
     .MenuSection = 4,
     .MenuOrder = 4,
     .ReadWriteSection = 4,
     .ReadWriteOrder = 4,
     .PanelCaption = "Уставка 2",
     .PanelWidth = 9,
     .PanelDecimals = 0},
    {.Id = ModeImage,
     .Menu = Params,
     .MenuSection = 6,
     .MenuOrder = 1,
     .ReadWriteSection = 6,
     .ReadWriteOrder = 1,
     .RadioMenuHint = "Изменить режим отображения",
     .PanelCaption = "Отображения"},
    {.Id = ModeCurrentOutput,
     .Menu = Params,
     .MenuSection = 6,
     .MenuOrder = 2,
     .ReadWriteSection = 6,
     .ReadWriteOrder = 2,
     .PanelCaption = "Токового выхода"},
    {.Id = ProgramType,
     .Menu = Params,
     .MenuSection = 6,
     .MenuOrder = 3,
     .ReadWriteSection = 6,
     .ReadWriteOrder = 3,
     .PanelCaption = "Тип программы"},
    {.Id = ModeProcessing,
     .Menu = FactoryMenu,
     .MenuSection = 1,
     .MenuOrder = 1,
     .ReadWriteSection = 7,
     .ReadWriteOrder = 1,
     .PanelCaption = "Обработки"},
    {.Id = ModeInputFilter,
     .Menu = FactoryMenu,
     .MenuSection = 1,
     .MenuOrder = 2,
     .ReadWriteSection = 7,
     .ReadWriteOrder = 2,
     .RadioMenuHint = "Режим работы входного фильтра",
     .PanelCaption = "Работы входного фильтра"},
    {.Id = ModeChannel,
     .Menu = FactoryMenu,
     .MenuSection = 1,
     .MenuOrder = 3,
     .ReadWriteSection = 7,
     .ReadWriteOrder = 3,
     .PanelCaption = "Работы по каналам"},
    {.Id = ModeCalibr,
     .Menu = FactoryMenu,
     .MenuSection = 1,
     .MenuOrder = 4,
     .ReadWriteSection = 7,
     .ReadWriteOrder = 4,
     .RadioMenuHint = "Изменить режим работы калибровки",
     .PanelCaption = "Работы калибровки"},
    {.Id = ModeTermostat,
     .Menu = FactoryMenu,
     .MenuSection = 1,
     .MenuOrder = 5,
     .ReadWriteSection = 7,
     .ReadWriteOrder = 5,
     .RadioMenuHint = "Режим работы термостата",
     .RadioMenuDescending = true,
     .PanelCaption = "Работы термостата"},
    {.Id = KrPer,
     .Menu = FactoryMenu,
     .MenuSection = 2,
     .MenuOrder = 1,
     .ReadWriteSection = 8,
     .ReadWriteOrder = 1,
     .PanelCaption = "Крутизна передаточной характеристики",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = SmPer,
     .Menu = FactoryMenu,
     .MenuSection = 2,
     .MenuOrder = 2,
     .ReadWriteSection = 8,
     .ReadWriteOrder = 2,
     .PanelCaption = "Смещение передаточной характеристики",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = KrPerOpCh,
     .Menu = FactoryMenu,
     .MenuSection = 2,
     .MenuOrder = 3,
     .ReadWriteSection = 8,
     .ReadWriteOrder = 3,
     .PanelCaption = "Крутизна передаточной характеристики",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = SmPerOpCh,
     .Menu = FactoryMenu,
     .MenuSection = 2,
     .MenuOrder = 4,
     .ReadWriteSection = 8,
     .ReadWriteOrder = 4,
     .PanelCaption = "Смещение передаточной характеристики",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = FreqCalibr,
     .Menu = FactoryMenu,
     .MenuSection = 3,
     .MenuOrder = 1,
     .ReadWriteSection = 9,
     .ReadWriteOrder = 1,
     .PanelCaption = "Частота калибровки",
     .PanelWidth = 9,
     .PanelDecimals = 3},
    {.Id = KKK1,
     .Menu = FactoryMenu,
     .MenuSection = 4,
     .MenuOrder = 1,
     .ReadWriteSection = 10,
     .ReadWriteOrder = 1,
     .PanelCaption = "Первый коэффициент квадратичной калибровки",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = KKK2,
     .Menu = FactoryMenu,
     .MenuSection = 4,
     .MenuOrder = 2,
     .ReadWriteSection = 10,
     .ReadWriteOrder = 2,
     .PanelCaption = "Второй коэффициент квадратичной калибровки",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = KKK3,
     .Menu = FactoryMenu,
     .MenuSection = 4,
     .MenuOrder = 3,
     .ReadWriteSection = 10,
     .ReadWriteOrder = 3,
     .PanelCaption = "Третий коэффициент квадратичной калибровки",
     .PanelWidth = 9,
     .PanelDecimals = 8},
    {.Id = Speed,
     .Menu = Params,
     .MenuSection = 5,
     .MenuOrder = 2,
     .ReadWriteSection = 5,
     .ReadWriteOrder = 2,
     .PanelCaption = "Скорость изменения показаний, мм/с",
     .PanelWidth = 9,
     .PanelDecimals = 3},
    {.Id = TemperCompareTermostat,
     .Menu = FactoryMenu,
     .MenuSection = 5,
     .MenuOrder = 1,
     .ReadWriteSection = 11,
     .ReadWriteOrder = 1,
     .PanelCaption = "Температура сравнения для термостата, °С"},
    {.Id = PlantNumberSVCH,
     .Menu = Params,
     .MenuSection = 2,
     .MenuOrder = 1,
     .ReadWriteSection = 2,
     .ReadWriteOrder = 2,
     .PanelCaption = "Заводской номер СВЧ модуля"},
    {.Id = TypeSVCH,
     .Menu = Params,
     .MenuSection = 2,
     .MenuOrder = 2,
     .ReadWriteSection = 2,
     .ReadWriteOrder = 1,
     .PanelCaption = "Тип СВЧ модуля"},
    {.Id = LevelKalibr,
     .Menu = Params,
     .MenuSection = 5,
     .MenuOrder = 4,
     .ReadWriteSection = AfterBulkSection,
     .ReadWriteOrder = 1,
     .PanelCaption = "Измеренный уровень Hу, мм",
     .PanelWidth = 10,
     .PanelDecimals = 0},
};
static_assert(std::size(Views) == static_cast<size_t>(TParamId::Count));
static_assert(RowsInHandleOrder(Views));

// The rows of a menu in section order, a separator between two sections. `place` gives a
// row's section and order (section 0: not in this menu).
template <class Place> std::vector<TParamMenuItem> MenuItems(TParamVerb verb, Place place) {
    std::vector<std::pair<std::pair<int, int>, const TParamRow*>> listed;
    for (const TParamRow& row : Rows) {
        const auto [section, order] = place(row);
        if (section > 0)
            listed.push_back({{section, order}, &row});
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TParamMenuItem> items;
    for (size_t i = 0; i < listed.size(); ++i) {
        if (i > 0 && listed[i].first.first != listed[i - 1].first.first)
            items.push_back({});
        items.push_back({listed[i].second, verb});
    }
    return items;
}

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

// The single the gauge would hold for a real.
float Single(double value) {
    return static_cast<float>(value);
}

} // namespace

std::span<const TParamRow> ParamRows() {
    return Rows;
}

const TParamRow& ParamRow(TParamId id) {
    return Rows[static_cast<int>(id)];
}

QString ParamJsonName(const TParamRow& row) {
    return Latin(JsonNames[static_cast<int>(row.Id)].Name);
}

const TParamRow* FindParam(const QString& key) {
    for (const TParamRow& row : Rows)
        if (key.compare(Latin(row.Key), Qt::CaseInsensitive) == 0)
            return &row;
    return nullptr;
}

const TParamView& ParamView(const TParamRow& row) {
    return Views[static_cast<int>(row.Id)];
}

std::vector<TParamMenuItem> ParamMenuItems(TParamMenu menu) {
    return MenuItems(VerbChange, [menu](const TParamRow& row) {
        const TParamView& v = ParamView(row);
        return v.Menu == menu && menu != TParamMenu::None ? std::pair(v.MenuSection, v.MenuOrder)
                                                          : std::pair(0, 0);
    });
}

std::vector<TParamMenuItem> ParamMenuItems(TParamVerb verb, bool afterBulk) {
    return MenuItems(verb, [verb, afterBulk](const TParamRow& row) {
        const TParamView& v = ParamView(row);
        const bool listed = (verb == VerbRead || verb == VerbWrite) &&
                            !ParamActionName(row, verb).isEmpty() && v.ReadWriteSection > 0 &&
                            (v.ReadWriteSection >= AfterBulkSection) == afterBulk;
        return listed ? std::pair(v.ReadWriteSection, v.ReadWriteOrder) : std::pair(0, 0);
    });
}

std::vector<int> RadioMenuValues(const TParamRow& row) {
    std::vector<int> values;
    for (size_t i = 0; i < row.Radio.size(); ++i)
        values.push_back(row.RadioFirst + static_cast<int>(i));
    if (ParamView(row).RadioMenuDescending)
        std::reverse(values.begin(), values.end());
    return values;
}

std::vector<const TParamRow*> BulkRows(TBulkDirection direction, bool factory) {
    std::vector<const TParamRow*> rows;
    for (const TParamSet pass : {TParamSet::Common, TParamSet::Factory}) {
        if (pass == TParamSet::Factory && !factory)
            break;
        std::vector<const TParamRow*> part;
        for (const TParamRow& row : Rows)
            if ((direction == TBulkDirection::Read ? row.ReadSet : row.WriteSet) == pass)
                part.push_back(&row);
        std::stable_sort(part.begin(), part.end(), [](const TParamRow* a, const TParamRow* b) {
            return a->BulkOrder < b->BulkOrder;
        });
        rows.insert(rows.end(), part.begin(), part.end());
    }
    return rows;
}

const TParamText& ParamActionText(const TParamRow& row, TParamVerb verb) {
    static const TParamText none{};
    switch (verb) {
    case VerbChange:
        return row.Change;
    case VerbRead:
        return row.Read;
    case VerbWrite:
        return row.Write;
    default:
        return none;
    }
}

QString ParamActionName(const TParamRow& row, TParamVerb verb) {
    if (!ParamActionText(row, verb).Caption)
        return QString();
    if (verb == VerbChange && row.ChangeName)
        return QStringLiteral("act") + Latin(row.ChangeName);
    static const char* const suffix[] = {"", "Change", "Read", "", "Write"};
    return QStringLiteral("act") + Latin(row.Stem) + Latin(suffix[verb]);
}

QString RadioActionName(const TParamRow& row, int value) {
    return QStringLiteral("act") + Latin(row.Stem) + QString::number(value);
}

QString TextCaption(const TParamText& text) {
    return text.Caption ? QString::fromUtf8(text.Caption) : QString();
}

QString TextHint(const TParamText& text) {
    return QString::fromUtf8(text.Hint ? text.Hint : text.Caption ? text.Caption : "");
}

QString WriteHint(const TParamRow& row) {
    return TextHint(row.WriteNamedByChange ? row.Change : row.Write);
}

QString ReadHint(const TParamRow& row) {
    return TextHint(row.Read);
}

QString ParamTitle(const TParamRow& row) {
    return row.Title ? QString::fromUtf8(row.Title) : TextCaption(row.Change).trimmed();
}

TParamKind ParamKind(const TParamRow& row) {
    static constexpr TParamKind kinds[] = {TParamKind::Byte,       TParamKind::Word,
                                           TParamKind::SignedByte, TParamKind::Real,
                                           TParamKind::Text,       TParamKind::Real};
    return kinds[row.Field.index()];
}

double ParamNumber(const TUlmar& u, const TParamRow& row) {
    return std::visit(
        [&u](auto field) -> double {
            using F = decltype(field);
            if constexpr (std::is_same_v<F, TRealAccessor>)
                return (u.*field.Get)();
            else if constexpr (std::is_same_v<F, QString TUlmar::*>)
                return 0.0;
            else
                return static_cast<double>(u.*field);
        },
        row.Field);
}

QString ParamString(const TUlmar& u, const TParamRow& row) {
    if (const auto* field = std::get_if<QString TUlmar::*>(&row.Field))
        return u.**field;
    return QString();
}

void SetParamInteger(TUlmar& u, const TParamRow& row, qint64 value) {
    std::visit(
        [&u, value](auto field) {
            using F = decltype(field);
            if constexpr (std::is_same_v<F, TRealAccessor>)
                (u.*field.Set)(static_cast<double>(value));
            else if constexpr (std::is_same_v<F, double TUlmar::*>)
                u.*field = static_cast<double>(value);
            else if constexpr (std::is_same_v<F, quint8 TUlmar::*>)
                u.*field = static_cast<quint8>(value & 0xFF);
            else if constexpr (std::is_same_v<F, quint16 TUlmar::*>)
                u.*field = static_cast<quint16>(value & 0xFFFF);
            else if constexpr (std::is_same_v<F, qint8 TUlmar::*>)
                u.*field = static_cast<qint8>(static_cast<quint8>(value & 0xFF));
        },
        row.Field);
}

void SetParamNumber(TUlmar& u, const TParamRow& row, double value) {
    switch (ParamKind(row)) {
    case TParamKind::Real:
        std::visit(
            [&u, value](auto field) {
                using F = decltype(field);
                if constexpr (std::is_same_v<F, TRealAccessor>)
                    (u.*field.Set)(value);
                else if constexpr (std::is_same_v<F, double TUlmar::*>)
                    u.*field = value;
            },
            row.Field);
        return;
    case TParamKind::Text:
        return;
    default:
        if (std::isfinite(value) && std::fabs(value) < 9e18)
            SetParamInteger(u, row, std::llround(value));
    }
}

void SetParamString(TUlmar& u, const TParamRow& row, const QString& value) {
    if (const auto* field = std::get_if<QString TUlmar::*>(&row.Field))
        u.** field = value;
}

void CopyParam(TUlmar& to, const TUlmar& from, const TParamRow& row) {
    if (ParamKind(row) == TParamKind::Text)
        SetParamString(to, row, ParamString(from, row));
    else
        SetParamNumber(to, row, ParamNumber(from, row));
}

bool ParamEqual(const TUlmar& a, const TUlmar& b, const TParamRow& row) {
    switch (ParamKind(row)) {
    case TParamKind::Text:
        return ParamString(a, row) == ParamString(b, row);
    case TParamKind::Real: {
        const float x = Single(ParamNumber(a, row));
        const float y = Single(ParamNumber(b, row));
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    default:
        return ParamNumber(a, row) == ParamNumber(b, row);
    }
}

QString ShortestSingle(double value) {
    const float single = Single(value);
    if (std::isnan(single))
        return QStringLiteral("NAN");
    if (std::isinf(single))
        return single < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), single);
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}

QString FormatParam(const TUlmar& u, const TParamRow& row, const QLocale& locale) {
    switch (ParamKind(row)) {
    case TParamKind::Text:
        return ParamString(u, row);
    case TParamKind::Real:
        return ShortestSingle(ParamNumber(u, row)).replace(QLatin1Char('.'), locale.decimalPoint());
    default:
        return QString::number(static_cast<qint64>(ParamNumber(u, row)));
    }
}

double DialogMax(const TUlmar& u, const TParamRow& row) {
    return row.Dialog.MaxIsDist2 ? u.Dist2() : row.Dialog.Max;
}
