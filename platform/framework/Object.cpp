#include "platform/framework/Object.h"

constinit const CRuntimeClass CObject::classCObject{"CObject", CRuntimeClass::kNoSchema, nullptr,
                                                    nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}

long CObject::Release() const {
    const long left = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}
