#include "foundation/NVEvent.h"

IMPLEMENT_DYNAMIC(CNVEvent, CObject)

CNVEvent::CNVEvent() : m_time(std::time(nullptr)) {}

CNVEvent::CNVEvent(const CObject* /*source*/, std::int32_t value, std::string text)
    : m_value(value), m_text(std::move(text)), m_time(std::time(nullptr)) {}
