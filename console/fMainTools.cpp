// The main window's service tool actions: each opens its window.

#include "console/fAbout.h"
#include "console/fMain.h"
#include "console/fProgon.h"
#include "console/fScan.h"
#include "console/fTaraEditor.h"
#include "console/fZero.h"

#include <QAction>

void TFormMain::BindServiceTools() {
    auto on = [this](const char* name, auto handler) {
        connect(Require(QString::fromLatin1(name)), &QAction::triggered, this, handler);
    };
    on("actTaraEditor", [] { ShowTaraEditor(); });
    on("actFormScanShow", [] { ShowScan(); });
    on("actFormProgonShow", [] { ShowProgon(); });
    on("actFormZeroShow", [] { ShowZero(); });
    on("actFormAboutShow", [] { ShowAbout(); });
    (void)on;
}
