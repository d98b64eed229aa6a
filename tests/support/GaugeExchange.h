#pragma once
// A device object that pairs each answer with the last request encoded from it, as the link
// does for one exchange: Build encodes the request of a code (and keeps it), Parse decodes an
// answer against the kept request and applies it. A failed Build keeps no request.

#include "Ulmar.h"
#include "uWire.h"

#include <QByteArray>

class TGaugeExchange : public TUlmar {
public:
    QByteArray Request;

    QByteArray Build(int code) {
        Request.clear();
        Request = EncodeRequest(*this, code);
        return Request;
    }
    unsigned Parse(const QByteArray& answer) { return Apply(Decode(Request, answer)); }
    unsigned ParseKalist(const QByteArray& answer) { return ApplyKalist(DecodeKalist(answer)); }
};
