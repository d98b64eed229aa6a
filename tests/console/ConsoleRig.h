#pragma once
// The main window's surroundings for a widget test: the gauge simulator on a pseudo-terminal,
// a device link over it in temporary directories, and scripted answers to every modal dialog.
// Test main thread only (it plays the user-interface thread).

#include "tests/support/LinkRig.h"
#include "uModal.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <deque>
#include <functional>
#include <memory>

class TConsoleRig : public TLinkRig {
public:
    // timerSavedEnabled: Timer.ini says the pacing timer was running when the program last ended.
    explicit TConsoleRig(bool timerSavedEnabled = false) : TLinkRig(Timeouts(timerSavedEnabled)) {}

    // The command codes of the requests the simulator received, in order.
    QList<int> Codes() const {
        QList<int> codes;
        for (const TSimRecord& r : Sim->Records())
            codes << CodeOf(r.Request);
        return codes;
    }
    QList<QByteArray> Requests() const {
        QList<QByteArray> requests;
        for (const TSimRecord& r : Sim->Records())
            requests << r.Request;
        return requests;
    }
    void Fault(TSimFault fault, int count, int value = 0) {
        TSimFaultRule rule;
        rule.Count = count;
        rule.Value = value;
        Sim->WithSim([&](TGaugeSim& sim) { sim.SetFault(fault, rule); });
    }

    // The command code of a request frame, recognised by its command byte and, for the
    // parameter families, the byte that selects the parameter; -1 when unknown.
    static int CodeOf(const QByteArray& frame) {
        static const QHash<QByteArray, int> keys = [] {
            QHash<QByteArray, int> k;
            TUlmar probe;
            probe.SystemAddress = 1;
            for (int code = 0; code <= TUlmar::MaxRequestCode; ++code)
                k.insert(Key(EncodeRequest(probe, code)), code);
            return k;
        }();
        return keys.value(Key(frame), -1);
    }

private:
    static TRigTimeouts Timeouts(bool timerSavedEnabled) {
        TRigTimeouts t;
        t.TimerSaved = timerSavedEnabled;
        return t;
    }
    static QByteArray Key(const QByteArray& frame) {
        if (frame.size() < 2)
            return {};
        const quint8 command = static_cast<quint8>(frame[1]);
        const bool selected = command == 0x01 || command == 0xA5 || command == 0xA6 ||
                              (command >= 0xB1 && command <= 0xB6);
        return selected ? frame.mid(1, 3) : frame.mid(1, 1);
    }
};

// A message box as the program asked for it.
struct TSeenBox {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
    QString Details; // the text behind the box's details button
};

// Answers the program's modal dialogs in order; without a scripted answer a message box gets
// its default button and any other dialog is cancelled.
class TModalScript {
public:
    using TAnswer = std::function<int(QDialog*)>;

    TModalScript() {
        ModalHook = [this](QDialog* d) { return Handle(d); };
    }
    ~TModalScript() { ModalHook = nullptr; }

    void Push(TAnswer answer) { Answers.push_back(std::move(answer)); }
    void PushButton(QMessageBox::StandardButton button) {
        Push([button](QDialog*) { return int(button); });
    }

    QList<TSeenBox> Boxes;
    QStringList DialogTitles; // dialogs other than message boxes
    std::deque<TAnswer> Answers;

private:
    int Handle(QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (box)
            Boxes << TSeenBox{box->windowTitle(), box->text(), box->icon(),
                              box->standardButton(box->defaultButton()), box->detailedText()};
        else
            DialogTitles << dialog->windowTitle();
        if (!Answers.empty()) {
            TAnswer answer = std::move(Answers.front());
            Answers.pop_front();
            return answer(dialog);
        }
        if (box)
            return box->defaultButton() ? int(box->standardButton(box->defaultButton()))
                                        : int(QMessageBox::Ok);
        return int(QDialog::Rejected);
    }
};
