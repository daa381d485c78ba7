// A right as a console sends it: arbitrary archive bytes loaded into a service's access right
// or into the default right it consults, then asked for access by sessions of enabled,
// disabled, unknown and group names at every level, from several addresses, with and without
// the request test, and with request values taken from the input. A load either fails and
// leaves the right as it was, or yields a right that stores and reloads unchanged. Then the
// eleven rights a console uploads as one unit (remote/ConfigurationUploads.h), each image led
// by a 2-byte length: all change or none, and each keeps its kind. The first byte picks the
// case.

#include "ArchiveFuzz.h"
#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/Right.h"
#include "platform/framework/Exception.h"
#include "remote/ConfigurationUploads.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The built-in accounts, "alice" in "Staff", and "bob" disabled; made once (no store is set,
// so nothing is written).
class Context : public CAccessContext {
public:
    Context() {
        users.CreateBuiltInAccounts();
        users.AddEntry(new CUser("alice", "", "", ""));
        auto* bob = new CUser("bob", "", "", "");
        bob->SetAccountEnabled(FALSE);
        users.AddEntry(bob);
        auto* staff = new CGroup("Staff", "");
        staff->AddMember("alice", CGroup::kUserMember);
        users.AddEntry(staff);
    }
    CGroupMemberDatabase& GetUserDatabase() override { return users; }
    CRight* GetDefaultRight(DWORD kind) override { return kind == RightAccess ? &defaultAccess : nullptr; }

    CGroupMemberDatabase users;
    CRight defaultAccess;
};

class Session : public CAccessSession {
public:
    Session(Context& context, std::string user, int level, std::string address, std::string text)
        : m_context(context), m_user(std::move(user)), m_level(level), m_address(std::move(address)),
          m_text(std::move(text)) {}
    std::string GetUserName() const override { return m_user; }
    int GetLogonLevel() const override { return m_level; }
    std::string GetClientAddress() const override { return m_address; }
    CAccessContext& GetAccessContext() const override { return m_context; }
    void GetValue(DWORD index, CNVDataObject& data) override {
        switch (index % 4) {
        case 0: data.SetString(m_text); break;
        case 1: data.SetDWORD(static_cast<DWORD>(m_text.size()) * index); break;
        case 2: data.SetInt(static_cast<std::int32_t>(index) - 12); break;
        default: break;
        }
    }
    void GetVariable(const std::string& name, CNVDataObject& data) override { data.SetString(name + m_text); }

private:
    Context& m_context;
    std::string m_user;
    int m_level;
    std::string m_address;
    std::string m_text;
};

void Decide(Context& context, const CRight& right, const std::string& text) {
    for (const char* user : {"alice", "bob", "Guest", "Administrator", "Staff", "nobody"}) {
        for (int level = 0; level <= 2; ++level) {
            for (const char* address : {"192.168.1.9", "10.0.0.1", "127.0.0.1"}) {
                Session session(context, user, level, address, text);
                const BOOL granted = right.IsGranted(session, FALSE);
                if (std::string(user) == "bob" || std::string(user) == "nobody" ||
                    std::string(user) == "Staff")
                    Check(!granted);
                right.IsGranted(session, TRUE);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Context context;
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0] % 3;
    ++data;
    --size;
    if (pick == 2) {
        std::vector<ConfigurationUploads::Image> images;
        for (std::size_t at = 0; at + 2 <= size && images.size() <= kRightKindCount;) {
            const std::size_t length =
                std::min<std::size_t>(data[at] | data[at + 1] << 8, size - at - 2);
            images.emplace_back(data + at + 2, data + at + 2 + length);
            at += 2 + length;
        }
        CRight rights[kRightKindCount];
        CRight* pointers[kRightKindCount];
        std::vector<std::vector<std::uint8_t>> before;
        for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
            rights[kind].SetRightType(kind);
            rights[kind].AddRecipientFor("Staff");
            pointers[kind] = &rights[kind];
            before.push_back(Store(rights[kind]));
        }
        bool done = true;
        try {
            ConfigurationUploads::ReplaceRights(pointers, kRightKindCount, images);
        } catch (...) {
            DropCurrentException();
            done = false;
        }
        for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
            Check(rights[kind].GetRightType() == kind);
            Check(done || Store(rights[kind]) == before[kind]);
        }
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
    CRight right;
    right.AddRecipientFor("Staff");
    CRight& target = pick == 0 ? right : context.defaultAccess;
    const std::vector<std::uint8_t> before = Store(target);
    if (!LoadObject(data, size, target)) {
        Check(Store(target) == before);
        return 0;
    }
    const std::vector<std::uint8_t> after = Store(target);
    CRight again;
    Check(LoadObject(after.data(), after.size(), again));
    Check(Store(again) == after);
    Decide(context, right, text);
    CRight copy;
    copy.Copy(target);
    Check(Store(copy) == Store(target));
    {
        CScopedLock lock(target);
        for (CObject* recipient : target.GetRecipients())
            static_cast<CRecipient*>(recipient)->GetDescriptionText();
    }
    context.defaultAccess.RemoveAll();
    return 0;
}
