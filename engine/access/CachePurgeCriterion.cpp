#include "engine/access/CachePurgeCriterion.h"

IMPLEMENT_SERIAL(CCachePurgeCriterion, CRequestCriterion, 1)

RequestVariableTable CCachePurgeCriterion::GetVariableTable() const { return kCacheEntryValues; }

BOOL CCachePurgeCriterion::MatchRequest(CRequestValueSource&) const { return FALSE; }

BOOL CCachePurgeCriterion::MatchCacheEntry(const CCacheEntryValueSource& entry) const {
    if (!IsComparisonApplicable(GetComparison(), GetValue().DataType))
        return FALSE;
    CNVDataObject fetched;
    entry.GetValue(GetDataIndex(), fetched);
    return Compare(fetched);
}
