#include "console/fMainTables.h"

#include <iterator>

const TActionText MainActionTexts[] = {
    {"actOprosStart", "Начать опрос", "Начать опрос прибора"},
    {"actOprosStop", "Остановить опрос", "Остановить опрос прибора"},
    {"actTimerParametersChange", "Период опроса", "Изменить период опроса прибора"},
    {"actTransmitterChange", "СОМ-порт", "Изменить параметры СОМ-порта"},
    {"act10", "Dec", ""},
    {"act16", "Hex", "Шестнадцатиричная"},
    {"actClose", "Выход", "Выход из программы"},
    {"actReqAnsShow", "Связь", "Открыть окно \"Связь\""},
    {"actUlmarShow", "Показания УЛМАР", "Открыть окно \"Показания УЛМАР\""},
    {"actUlmarParShow", "Параметры УЛМАР", "Открыть окно \"Параметры УЛМАР\""},
    {"actSelectCmdShow", "Команды УЛМАР", "Открыть окно \"Команды УЛМАР\""},
    {"actTaraEditor", "Редактор тарировочной таблицы", "Редактор тарировочной таблицы"},
    {"actFormZeroShow", "Массив нулей", "Открыть окно \"Массив нулей\""},
    {"actFormProgonShow", "Прогон", "Открыть окно \"Прогон\""},
    {"actFormScanShow", "Сканирование", "Сканирование"},
    {"actFormAboutShow", "О программе", "О программе"},
    {"actGraphDistance", "Lт - Расстояние", "График расстояния от фланца до продукта"},
    {"actGraphLevelFree", "Lc - Свободное пространство", "График свободного пространства"},
    {"actGraphLevel", "Ну - Уровень", "График уровня"},
    {"actGraphVolume", "V - Объем", "График объема продукта"},
    {"actGraphCurrentOutput", "I - Ток, мА ", "I - Ток, мА "},
    {"actLevelFromTemp", "Lт-Расстояние, T-Температура СВЧ модуля",
     "Lт-Расстояние, T-Температура СВЧ модуля"},
    {"actUlmarLoad", "Загрузить параметры", "Загрузить параметры прибора с диска"},
    {"actUlmarSave", "Сохранить параметры ", "Сохранить параметры прибора на диск"},
    {"actUlmarCompare", "Сравнить с файлом…", "Сравнить параметры прибора с файлом"},
};
const int MainActionTextCount = static_cast<int>(std::size(MainActionTexts));
