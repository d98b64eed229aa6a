// The main window's service tool actions: each opens its window.

#include "fAbout.h"
#include "fLine.h"
#include "fMain.h"
#include "fProgon.h"
#include "fRecord.h"
#include "fScan.h"
#include "fTaraEditor.h"
#include "fZero.h"

#include <QAction>

void TFormMain::BindServiceTools() {
    auto on = [this](const char* name, auto handler) {
        connect(Require(QString::fromLatin1(name)), &QAction::triggered, this, handler);
    };
    on("actTaraEditor", [this] { ShowTaraEditor(Windows_.TaraEditor, this); });
    on("actFormScanShow", [this] { ShowScan(Windows_.Scan, *Commands_, &PollControl_, this); });
    on("actFormProgonShow", [this] { ShowProgon(Windows_.Progon, this); });
    on("actFormZeroShow", [this] { ShowZero(Windows_.Zero, *Commands_, &Context_, this); });
    on("actFormLineShow", [this] { ShowFormLine(Windows_.Line, Link_, &Context_); });
    on("actFormRecordShow",
       [this] { ShowRecord(Windows_.Record, *Commands_, &PollControl_, &Context_, this); });
    on("actFormAboutShow", [] { ShowAbout(); });
    (void)on;
}
