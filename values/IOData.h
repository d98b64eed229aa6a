#pragma once
// Typed values: the last value given, its time, the converted output that views read, four
// events and the values connected to it, which receive every new output. Values are set on the
// user-interface thread only; the archive reads them (GetValue) from the request thread right
// after a parse has finished.

#include "IODescription.h"
#include "uTimeOut.h"
#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Small dynamically typed value: empty, unsigned byte, integer, double, boolean or text.
// Numeric kinds (and booleans) compare by numeric value: byte 0 equals double 0.0. Texts
// compare as texts and never equal a number; two empties are equal.
class TVariant {
public:
    enum class Kind { Empty, Byte, Int, Double, Bool, Text };

    TVariant() = default;
    static TVariant FromByte(std::uint8_t v);
    static TVariant FromInt(qint64 v);
    static TVariant FromDouble(double v);
    static TVariant FromBool(bool v);
    static TVariant FromText(const QString& v);

    Kind GetKind() const { return Kind_; }
    bool IsNumeric() const; // byte, int, double or bool
    // Conversions throw std::invalid_argument when the value cannot be converted
    // (empty, or text that is not a number).
    double ToDouble() const;
    qint64 ToInt() const;   // doubles are rounded half away from zero
    QString ToText() const; // empty gives "", booleans "True"/"False"

    bool operator==(const TVariant& other) const;
    bool operator!=(const TVariant& other) const { return !(*this == other); }

private:
    Kind Kind_ = Kind::Empty;
    double Number_ = 0.0;
    qint64 Int_ = 0;
    QString Text_;
};

class TIOData;
using TIOEvent = std::function<void(TIOData* sender)>;

class TIOData {
public:
    TIOData();
    virtual ~TIOData();
    TIOData(const TIOData&) = delete;
    TIOData& operator=(const TIOData&) = delete;

    // Copies the Active flag from another typed value.
    virtual void Assign(const TIOData* source);
    // Stores the input and its time (0 = now) and, while Active, fires the input events,
    // converts, sets the output and pushes it to the subscribers. Failures are swallowed.
    virtual void SetValue(const TVariant& value, TDateTime time = 0.0);
    virtual TVariant GetInValue() const;
    // Subscribes to source (none only disconnects); immediately also takes its value now.
    // A source that would close a loop of connected values is refused (only disconnects).
    virtual void Connect(TIOData* source, bool immediately = false);
    virtual TVariant GetValue() const;

    // Removes this value from source's subscribers; Source keeps its reference.
    void Disconnect(TIOData* source);
    void SetOutValue(const TVariant& value);
    void NotifySubscribers();

    // The output as a double; 0 when it cannot be converted.
    double AsDouble() const;

    TIOEvent OnOutChange;
    TIOEvent OnInSet;
    TIOEvent OnOutSet;
    TIOEvent OnInChange;
    bool Active = true;

    // Destroying a value clears the Source of the values connected to it.
    TIOData* Source() const { return Source_; }
    const std::vector<TIOData*>& Subscribers() const { return Subscribers_; }
    TDateTime ValueTime() const { return ValueTime_.Time; }

protected:
    // Produces the output from the input; throws when it cannot.
    virtual TVariant Convert() const = 0;

    TVariant InValue_ = TVariant::FromByte(0);
    TVariant OutValue_ = TVariant::FromByte(0);

private:
    // Runs the handler if any; false when it failed (see the definition).
    bool Fire(const TIOEvent& event);
    bool FeedsInto(const TIOData* value) const; // value is reached by following the pushes
    void CompactSubscribers();

    void SetSource(TIOData* source);

    std::vector<TIOData*> Subscribers_;
    TIOData* Source_ = nullptr;
    std::vector<TIOData*> Referrers_; // values whose Source is this one, connected or not
    TTimeOut ValueTime_;
    int Notifying_ = 0; // while above 0, Disconnect empties entries instead of removing them
};

class TCustomIOData : public TIOData {
public:
    void SetValue(const TVariant& value, TDateTime time = 0.0) override;
    TVariant GetInValue() const override;
    void Connect(TIOData* source, bool immediately = false) override;
    TVariant GetValue() const override;

protected:
    TVariant Convert() const override; // the input unchanged
};

class TiodDoubleToDouble : public TCustomIOData {
protected:
    TVariant Convert() const override; // the input as a double
};

class TiodThreeStatesToThreeStates : public TCustomIOData {
protected:
    // The input's low 8 bits as a byte code; a boolean gives tsTrue or tsFalse.
    TVariant Convert() const override;
};

class TIODouble : public TiodDoubleToDouble {
public:
    TIODouble();
    ~TIODouble() override;
    void Assign(const TIOData* source) override;
    TDescriptionOfDouble* Description() const { return Description_.get(); }

private:
    std::unique_ptr<TDescriptionOfDouble> Description_;
};

class TIOThreeStates : public TiodThreeStatesToThreeStates {
public:
    TIOThreeStates(); // starts at tsUnknown
    ~TIOThreeStates() override;
    void Assign(const TIOData* source) override;
    TDescriptionOfThreeStates* Description() const { return Description_.get(); }
    // The current code (0 to 255); tsUnknown when the output is not a number.
    std::uint8_t State() const;

private:
    std::unique_ptr<TDescriptionOfThreeStates> Description_;
};
