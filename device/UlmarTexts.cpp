// Texts of the device object: mode converters, fault and error-answer texts, the tare table
// text, and the built-in sample zero array.

#include "IODescription.h"
#include "Ulmar.h"

namespace {

QString Unknown() {
    return QStringLiteral("Не известно");
}

// Text of a code from a list that starts at code `first`; "Не известно" outside it.
QString Pick(int code, int first, std::initializer_list<const char*> texts) {
    const int i = code - first;
    if (i < 0 || i >= static_cast<int>(texts.size()))
        return Unknown();
    return QString::fromUtf8(texts.begin()[i]);
}

// A recorded zero array of a gauge: entry 1 = values that follow the header, then the rising
// course of the zero line, entries 1 to 127.
constexpr qint32 SampleZeroArray[127] = {
    123,   286,   40731, 0,     398,   776,   1170,  1564,  1958,  2352,  2746,  3140,  3534,
    3928,  4321,  4715,  5109,  5502,  5896,  6289,  6682,  7075,  7468,  7861,  8253,  8645,
    9037,  9429,  9820,  10212, 10602, 10993, 11383, 11772, 12161, 12550, 12938, 13326, 13714,
    14100, 14486, 14872, 15257, 15641, 16025, 16408, 16790, 17172, 17552, 17932, 18311, 18690,
    19067, 19443, 19819, 20193, 20567, 20939, 21311, 21681, 22050, 22418, 22785, 23150, 23515,
    23878, 24239, 24600, 24959, 25316, 25672, 26027, 26380, 26731, 27081, 27429, 27776, 28121,
    28464, 28805, 29145, 29482, 29818, 30152, 30484, 30814, 31142, 31467, 31791, 32113, 32432,
    32749, 33064, 33377, 33687, 33995, 34300, 34603, 34903, 35201, 35497, 35789, 36079, 36367,
    36651, 36933, 37212, 37488, 37761, 38031, 38299, 38563, 38824, 39082, 39336, 39588, 39836,
    40081, 40323, 40561, 40796, 41027, 41254, 41479, 41699, 41916, 42178,
};

} // namespace

QString TUlmar::ModeProcessingText() const {
    return Pick(ModeProcessing, 0, {"Стандартный обработчик"});
}

QString TUlmar::ModeImageText() const {
    return Pick(
        ModeImage, 1,
        {"Текущее расстояние", "Текущий уровень", "Свободное пространство", "Текущий объем"});
}

// Latin m, Cyrillic А, as the gauge's documentation writes them.
QString TUlmar::ModeCurrentOutputText() const {
    return Pick(ModeCurrentOutput, 0, {"0...5 mА", "4...20 mА", "0...20 mА"});
}

QString TUlmar::ModeChannelText() const {
    return Pick(ModeChannel, 0, {"Канал со следящим фильтром", "Канал с усилителем ограничителем"});
}

QString TUlmar::ProgramTypeText() const {
    return Pick(ProgramType, 0, {"УЛМАР-10", "УЛМАР-20"});
}

// The input filter is on at 0, the thermostat off at 0.
QString TUlmar::ModeInputFilterText() const {
    return Pick(ModeInputFilter, 0, {"Включен", "Выключен"});
}

QString TUlmar::ModeTermostatText() const {
    return Pick(ModeTermostat, 0, {"Выключен", "Включен"});
}

QString TUlmar::ModeCalibrText() const {
    return Pick(ModeCalibr, 0,
                {"Калибровка по линейному закону", "Калибровка по квадратичному закону"});
}

QString TUlmar::FaultText(int fault) {
    if (fault < 1 || fault > 9)
        return QStringLiteral("Ошибка неизвестна");
    return Pick(fault, 1,
                {"Неисправен передатчик приемо-передающего модуля",
                 "Недостаточен уровень входного сигнала или неисправен канал приема",
                 "Недостаточен уровень входного сигнала или неисправен канал цифровой обработки",
                 "Неисправен датчик температуры внутри взрывонепроницаемой оболочки",
                 "Нет управления перестройкой частоты ППМ",
                 "Нет обмена данными с измерительным микроконтроллером",
                 "Ошибка при работе с энергонезависимой памятью или ее отказ",
                 "Потеря данных, хранимых в энергонезависимой памяти",
                 "Неисправен датчик температуры модуля термостатирования внутри "
                 "взрывонепроницаемой оболочки"});
}

QString TUlmar::ErrorAnswerText(int code) {
    if (code < 1 || code > 4)
        return QString();
    return Pick(code, 1,
                {"Принят неизвестный код команды",
                 "Полученная команда не может быть выполенена в настоящее время", "Ошибка в данных",
                 "Отказ в работе прибора"});
}

QString TUlmar::TareTableText() const {
    QString text = QStringLiteral("Уровень, Объем\r");
    for (int i = 0; i < TarePointCount; ++i) {
        text += QString::number(i + 1) + QStringLiteral(") ") +
                FormatNumber(TareTable[i].Level, 9, 1) + QStringLiteral("    ") +
                FormatNumber(TareTable[i].Volume, 9, 2) + QLatin1Char('\r');
    }
    return text;
}

void TUlmar::LoadSampleZeroArray() {
    for (int i = 0; i < 127; ++i)
        ZeroArray[i] = SampleZeroArray[i];
}
