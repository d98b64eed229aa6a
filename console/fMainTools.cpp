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
    on("actTaraEditor", [this] { ShowTaraEditor(Windows_.TaraEditor, this); });
    on("actFormScanShow", [this] { ShowScan(Windows_.Scan, *Commands_, &PollControl_, this); });
    on("actFormProgonShow", [this] { ShowProgon(Windows_.Progon, this); });
    on("actFormZeroShow", [this] { ShowZero(Windows_.Zero, *Commands_, &Context_, this); });
    on("actFormAboutShow", [] { ShowAbout(); });
    (void)on;
}
