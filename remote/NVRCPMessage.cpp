#include "remote/NVRCPMessage.h"

#include "foundation/Archive.h"

IMPLEMENT_SERIAL(CNVRCPMessage, CObject, 1)

void CNVRCPMessage::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << Op << Arg1 << Arg2 << Arg3;
        return;
    }
    WORD op = 0;
    std::string arg1, arg2, arg3;
    ar >> op >> arg1 >> arg2 >> arg3;
    Op = op;
    Arg1 = std::move(arg1);
    Arg2 = std::move(arg2);
    Arg3 = std::move(arg3);
}
