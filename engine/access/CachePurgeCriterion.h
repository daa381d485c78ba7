#pragma once
// A cache-purge criterion: a request criterion whose DataIndex numbers the values of a web-cache
// entry (the second table of engine/access/RequestVariables.h), tested against an entry. The
// web cache's purge filter holds them ("Hit count less than 2").
//
// MatchCacheEntry follows the steps of CRequestCriterion::MatchRequest, fetching the value with
// the entry's GetValue(DataIndex) from integer 0 (18 has no special meaning here). Its
// description uses the cache-entry table's names and types. MatchRequest answers FALSE.
// Registry and archive forms are the base's, with "Type" "CCachePurgeCriterion".

#include "engine/access/RequestCriterion.h"

class CCachePurgeCriterion : public CRequestCriterion {
    DECLARE_SERIAL(CCachePurgeCriterion)
public:
    CCachePurgeCriterion() = default;

    RequestVariableTable GetVariableTable() const override;
    BOOL MatchRequest(CRequestValueSource& source) const override;
    virtual BOOL MatchCacheEntry(const CCacheEntryValueSource& entry) const;
};
