#pragma once
// Request and cache-entry values for testing criteria, filters and rights without a session
// or a cache: whatever a test sets is answered, every other index leaves the value as passed.

#include "engine/access/RequestFilter.h"
#include "engine/access/RequestValueSource.h"
#include "foundation/NVDataObject.h"

#include <map>
#include <string>

class FakeRequest : public CRequestValueSource {
public:
    FakeRequest& Set(DWORD index, const CNVDataObject& value) {
        m_values[index].Copy(value);
        return *this;
    }
    // A header (names compared without regard to ASCII case); without any header set the
    // request has no headers at all and GetVariable leaves the value alone.
    FakeRequest& Header(const std::string& name, const std::string& value) {
        m_headers[Lower(name)] = value;
        return *this;
    }

    void GetValue(DWORD index, CNVDataObject& data) override {
        ++m_lookups;
        auto it = m_values.find(index);
        if (it != m_values.end())
            data.Copy(it->second);
    }
    void GetVariable(const std::string& name, CNVDataObject& data) override {
        ++m_lookups;
        if (m_headers.empty())
            return;
        auto it = m_headers.find(Lower(name));
        data.SetString(it == m_headers.end() ? "" : it->second);
    }
    // How many values were asked for.
    int Lookups() const { return m_lookups; }

private:
    static std::string Lower(std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    }

    std::map<DWORD, CNVDataObject> m_values;
    std::map<std::string, std::string> m_headers;
    int m_lookups = 0;
};

class FakeCacheEntry : public CCacheEntryValueSource {
public:
    FakeCacheEntry& Set(DWORD index, const CNVDataObject& value) {
        m_values[index].Copy(value);
        return *this;
    }
    void GetValue(DWORD index, CNVDataObject& data) const override {
        auto it = m_values.find(index);
        if (it != m_values.end())
            data.Copy(it->second);
    }

private:
    std::map<DWORD, CNVDataObject> m_values;
};

// A new criterion "<variable index> <comparison> <value>" (the caller owns it).
inline CRequestCriterion* NewCriterion(DWORD index, DWORD comparison, const CNVDataObject& value) {
    auto* criterion = new CRequestCriterion();
    criterion->SetDataIndex(index);
    criterion->SetComparison(comparison);
    criterion->SetValue(value);
    return criterion;
}

// A new filter named `name` holding the one criterion "HTTP URL contains <word>".
inline CRequestFilter* NewUrlFilter(const char* word, const std::string& name = "") {
    auto* filter = new CRequestFilter(name, "");
    filter->AddCriterion(NewCriterion(RequestHTTPURL, ComparisonContains, CNVDataObject(word)));
    return filter;
}
