#pragma once
// What request criteria test, as two small interfaces (engine/access/RequestVariables.h
// numbers the values):
//   CRequestValueSource      a client's request or session: every session implements it
//                            (the access decision adds more, engine/access/AccessSession.h);
//   CCacheEntryValueSource   a web-cache entry, for cache-purge criteria.
// Both let criteria and filters be tested without a live session or cache.

#include "platform/kernel/Types.h"

#include <string>

class CNVDataObject;

class CRequestValueSource {
public:
    // Sets `data` to request variable `index`, of the table's type. An index the source does
    // not supply leaves `data` as the caller passed it.
    virtual void GetValue(DWORD index, CNVDataObject& data) = 0;
    // Sets `data` to the string value of the request header `name` (any case). A source
    // without request headers leaves `data` as the caller passed it.
    virtual void GetVariable(const std::string& name, CNVDataObject& data) = 0;

protected:
    CRequestValueSource() = default;
    CRequestValueSource(const CRequestValueSource&) = default;
    CRequestValueSource& operator=(const CRequestValueSource&) = default;
    ~CRequestValueSource() = default;
};

class CCacheEntryValueSource {
public:
    // Sets `data` to cache-entry value `index`, of the table's type; any other index leaves
    // `data` unchanged.
    virtual void GetValue(DWORD index, CNVDataObject& data) const = 0;

protected:
    CCacheEntryValueSource() = default;
    CCacheEntryValueSource(const CCacheEntryValueSource&) = default;
    CCacheEntryValueSource& operator=(const CCacheEntryValueSource&) = default;
    ~CCacheEntryValueSource() = default;
};
