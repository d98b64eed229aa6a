#include "uProgramLocale.h"

#include <QLocale>
#include <clocale>

void UseProgramLocale() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    std::setlocale(LC_NUMERIC, "C");
}
