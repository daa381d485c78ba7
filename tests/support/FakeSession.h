#pragma once
// A session and an engine as the access decision sees them: a user name, a log-on level, a
// client address and request values (support/FakeRequest.h), decided against a real user
// database and three default rights.

#include "engine/access/AccessContext.h"
#include "engine/access/AccessSession.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/Right.h"
#include "support/FakeRequest.h"

#include <string>
#include <utility>

class FakeAccessContext : public CAccessContext {
public:
    FakeAccessContext() {
        for (DWORD kind = 0; kind <= kLastDefaultRightKind; ++kind)
            defaults[kind].SetRightType(kind);
    }
    CGroupMemberDatabase& GetUserDatabase() override { return users; }
    CRight* GetDefaultRight(DWORD kind) override {
        return kind <= kLastDefaultRightKind ? &defaults[kind] : nullptr;
    }

    CGroupMemberDatabase users;
    CRight defaults[kLastDefaultRightKind + 1];
};

class FakeSession : public CAccessSession {
public:
    FakeSession(CAccessContext& context, std::string user, int level = 0,
                std::string address = "192.168.2.9")
        : m_context(context), m_user(std::move(user)), m_level(level), m_address(std::move(address)) {}

    std::string GetUserName() const override { return m_user; }
    int GetLogonLevel() const override { return m_level; }
    std::string GetClientAddress() const override { return m_address; }
    CAccessContext& GetAccessContext() const override { return m_context; }
    void GetValue(DWORD index, CNVDataObject& data) override { request.GetValue(index, data); }
    void GetVariable(const std::string& name, CNVDataObject& data) override {
        request.GetVariable(name, data);
    }

    FakeRequest request;

private:
    CAccessContext& m_context;
    std::string m_user;
    int m_level;
    std::string m_address;
};
