#!/usr/bin/env bash
# The include checker (tools/check_layers.sh) over small trees: a sound tree passes, and each
# wrong include, added alone, fails with its own line.
#   check_layers_cases.sh PATH/TO/check_layers.sh
set -uo pipefail
checker=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A sound tree: every layer includes only itself and what lies below it, sim only the frame
# envelope of protocol, app the windows and the simulator; report and cli draw with Qt Gui.
# Qt's headers are a fake folder.
sound() {
    local t=$1
    mkdir -p "$t"/{base,protocol,values,device,commands,archive,report,ui,sim,cli,app}
    mkdir -p "$t"/qt/{QtCore,QtGui,QtWidgets,QtSql}
    touch "$t"/qt/QtCore/QString "$t"/qt/QtGui/QAction "$t"/qt/QtGui/QPainter "$t"/qt/QtWidgets/QWidget \
        "$t"/qt/QtSql/QSqlQuery
    printf '#pragma once\n#include <QString>\n' >"$t"/base/uIni.h
    printf '#include "uIni.h"\n#include <vector>\n' >"$t"/base/uIni.cpp
    printf '#pragma once\n#include "uIni.h"\n' >"$t"/protocol/uFrame.h
    printf '#pragma once\n#include "uFrame.h"\n' >"$t"/protocol/uCodec.h
    printf '#pragma once\n#include "uCodec.h"\n' >"$t"/values/IOData.h
    printf '#pragma once\n#include "IOData.h"\n' >"$t"/device/Ulmar.h
    printf '#pragma once\n#include "Ulmar.h"\n' >"$t"/commands/uParamTable.h
    printf '#include "uParamTable.h"\n#include <QSqlQuery>\n' >"$t"/archive/uBDE.cpp
    printf '#pragma once\n#include "uParamTable.h"\n' >"$t"/archive/uBDE.h
    printf '#include "uBDE.h"\n#include <libpq-fe.h>\n' >"$t"/archive/uPlant.cpp
    printf '#pragma once\n#include "uBDE.h"\n#include <QPainter>\n' >"$t"/report/uDoc.h
    printf '#pragma once\n#include "uDoc.h"\n#include <QWidget>\n#include <QAction>\n' >"$t"/ui/fMain.h
    printf '#include "uFrame.h"\n#include "uIni.h"\n' >"$t"/sim/uSim.cpp
    printf '#pragma once\n' >"$t"/sim/uSim.h
    printf '#include "uDoc.h"\n#include <QSqlQuery>\n#include <QPainter>\n' >"$t"/cli/main.cpp
    printf '#include "fMain.h"\n#include "uSim.h"\n' >"$t"/app/main.cpp
    mkdir -p "$t"/tests/ui "$t"/bench
    printf '#include "fMain.h"\n' >"$t"/tests/ui/tst_main.cpp
    printf '#include "fMain.h"\n' >"$t"/bench/bench_main.cpp
}

run() {
    bash "$checker" --root "$1" --qt-headers "$1/qt" >"$work/out" 2>&1
}

# expect_bad NAME EXPECTED-TEXT FILE CONTENT [OTHER]: the sound tree with one file added or
# replaced (and OTHER, an empty header, beside it).
expect_bad() {
    local name=$1 expected=$2 file=$3 content=$4 other=${5:-}
    local t="$work/$name"
    sound "$t"
    if [ -n "$other" ]; then
        mkdir -p "$(dirname "$t/$other")"
        printf '#pragma once\n' >"$t/$other"
    fi
    mkdir -p "$(dirname "$t/$file")"
    printf '%s\n' "$content" >"$t/$file"
    if run "$t"; then
        echo "FAIL $name: the checker passed a tree with $file"
        failures=$((failures + 1))
    elif ! grep -qF -- "$expected" "$work/out"; then
        echo "FAIL $name: no line \"$expected\" in:"
        cat "$work/out"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

sound "$work/sound"
if run "$work/sound"; then
    echo "ok   sound tree"
else
    echo "FAIL sound tree:"
    cat "$work/out"
    failures=$((failures + 1))
fi

expect_bad upward 'base/uUp.cpp:2: includes "fMain.h" (ui/fMain.h): base may not include ui' \
    base/uUp.cpp $'#include "uIni.h"\n#include "fMain.h"'
expect_bad upward_path 'device/uUp.cpp:1: includes "commands/uParamTable.h" (commands/uParamTable.h): device may not include commands' \
    device/uUp.cpp '#include "commands/uParamTable.h"'
expect_bad sideways_top 'cli/uArgs.cpp:1: includes "fMain.h" (ui/fMain.h): cli may not include ui' \
    cli/uArgs.cpp '#include "fMain.h"'
expect_bad sim_codec 'sim/uSim2.cpp:1: includes "uCodec.h" (protocol/uCodec.h): sim may not include protocol' \
    sim/uSim2.cpp '#include "uCodec.h"'
expect_bad sim_device 'sim/uSim2.cpp:1: includes "Ulmar.h" (device/Ulmar.h): sim may not include device' \
    sim/uSim2.cpp '#include "Ulmar.h"'
expect_bad lower_uses_app 'ui/fOther.cpp:1: includes "uSim.h" (sim/uSim.h): ui may not include sim' \
    ui/fOther.cpp '#include "uSim.h"'
expect_bad widgets_below_ui 'values/IOView.h:2: includes <QWidget> (QtWidgets): values/ may not use it' \
    values/IOView.h $'#pragma once\n#include <QWidget>'
expect_bad gui_below_ui 'commands/uMenu.cpp:1: includes <QAction> (QtGui): commands/ may not use it' \
    commands/uMenu.cpp '#include <QAction>'
expect_bad widgets_in_report 'report/uDoc2.cpp:1: includes <QWidget> (QtWidgets): report/ may not use it' \
    report/uDoc2.cpp '#include <QWidget>'
expect_bad report_uses_ui 'report/uDoc2.cpp:1: includes "fMain.h" (ui/fMain.h): report may not include ui' \
    report/uDoc2.cpp '#include "fMain.h"'
expect_bad sql_in_device 'device/uStore.cpp:1: includes <QSqlQuery> (QtSql): device/ may not use it' \
    device/uStore.cpp '#include <QSqlQuery>'
expect_bad chart_in_archive 'archive/uChart.cpp:1: includes <qcustomplot.h> (QCustomPlot): archive/ may not use it' \
    archive/uChart.cpp '#include <qcustomplot.h>'
expect_bad libpq_in_ui 'ui/fPlant.cpp:2: includes <libpq-fe.h> (libpq): ui/ may not use it' \
    ui/fPlant.cpp $'#include "uBDE.h"\n#include <libpq-fe.h>'
expect_bad libpq_in_cli 'cli/uPlant.cpp:1: includes <libpq/libpq-fs.h> (libpq): cli/ may not use it' \
    cli/uPlant.cpp '#include <libpq/libpq-fs.h>'
expect_bad stray_folder 'devicelink/: holds sources but is no layer' \
    devicelink/uLink.cpp '#include "uIni.h"'
expect_bad into_stray 'ui/fLink.cpp:1: includes "devicelink/uLink.h" (devicelink/uLink.h): devicelink/ is no layer' \
    ui/fLink.cpp '#include "devicelink/uLink.h"' devicelink/uLink.h
expect_bad same_name 'two headers named uIni.h: base/uIni.h ui/uIni.h' \
    ui/uIni.h '#pragma once'

[ "$failures" -eq 0 ]
