#include "console/session/WHTreeItem.h"

#include "engine/access/Group.h"
#include "engine/access/Location.h"
#include "engine/access/User.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/Session.h"

#include <string_view>

IMPLEMENT_DYNAMIC(CWHTreeItem, CObject)

namespace {

// Images of the image list by what an item shows.
constexpr int kSessionImage = 14;
constexpr int kEngineSessionImage = 13;
constexpr int kRealSessionImage = 17;
constexpr int kPOP3SessionImage = 18;
constexpr int kMachineImage = 0;
constexpr int kUserImage = 1;
constexpr int kGroupImage = 4;
constexpr int kLocationImage = 0;
constexpr int kStoppedServiceImage = 11;
constexpr int kRunningServiceImage = 10;

struct SessionPrefix {
    std::string_view prefix;
    int image;
};
constexpr SessionPrefix kSessionPrefixes[] = {
    {"Norvane ", kEngineSessionImage},
    {"Real", kRealSessionImage},
    {"POP3", kPOP3SessionImage},
};

int ChooseImage(int given, int byClass) { return given == CWHTreeItem::kImageByClass ? byClass : given; }

}  // namespace

CWHTreeItem::CWHTreeItem(CRef<CObject> shown, std::string parent, int givenImage)
    : image(givenImage == kImageByClass ? 0 : givenImage), object(std::move(shown)),
      parentLabel(std::move(parent)) {
    CObject* target = object.Get();
    if (auto* session = dynamic_cast<CSession*>(target)) {
        kind = kSession;
        text = session->GetDescription();
        image = ChooseImage(givenImage, kSessionImage);
        for (const SessionPrefix& row : kSessionPrefixes)
            if (std::string_view(text).starts_with(row.prefix))
                image = row.image;
        level = static_cast<int>(session->GetSessionId());
        if (CRef<CMachine> machine = session->GetMachine()) {
            userText = machine->GetAddressText();
            secondText = machine->GetUserName();
            secondLevel = machine->GetLogonState();
        }
    } else if (auto* machine = dynamic_cast<CMachine*>(target)) {
        kind = kMachine;
        text = machine->GetAddressText();
        image = kMachineImage;
        userText = machine->GetUserName();
        level = machine->GetLogonState();
    } else if (auto* user = dynamic_cast<CUser*>(target)) {
        kind = kUser;
        text = user->GetName();
        image = kUserImage;
    } else if (auto* group = dynamic_cast<CGroup*>(target)) {
        kind = kGroup;
        text = group->GetName();
        image = ChooseImage(givenImage, kGroupImage);
    } else if (auto* location = dynamic_cast<CLocation*>(target)) {
        kind = kLocation;
        text = location->GetFilter();
        image = kLocationImage;
    } else if (auto* service = dynamic_cast<CService*>(target)) {
        kind = kService;
        text = service->GetName();
        image = service->GetRunState() == CService::kRunning ? kRunningServiceImage : kStoppedServiceImage;
    }
}
