#pragma once
// CNVRCPMessage: the protocol message of the remote-control link, an operation code (a request,
// a notification, or the status of a reply) with three strings. It is always sent and
// received untagged, into an object the receiver has already made (remote/RCPFraming.h).
//
// Archive form: Op (WORD), Arg1, Arg2, Arg3 (archive strings). A load reads the whole record
// aside first, so a message whose image is short or malformed is left as it was.
//
// Target is the console's own: the object a queued request is about. It is never serialised,
// and the engine leaves it empty.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <string>

class CArchive;

class CNVRCPMessage : public CObject {
    DECLARE_SERIAL(CNVRCPMessage)
public:
    // Op 0 and three empty strings.
    CNVRCPMessage() = default;
    CNVRCPMessage(WORD op, std::string arg1, std::string arg2 = {}, std::string arg3 = {})
        : Op(op), Arg1(std::move(arg1)), Arg2(std::move(arg2)), Arg3(std::move(arg3)) {}

    void Serialize(CArchive& ar) override;

    WORD Op = 0;
    std::string Arg1;
    std::string Arg2;
    std::string Arg3;
    CRef<CObject> Target;
};
