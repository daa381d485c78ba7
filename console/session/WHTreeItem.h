#pragma once
// CWHTreeItem: the record behind one tree item that shows a configuration or activity object.
// The console session makes it, on its own thread, for an object that gets a new item, and
// posts it with the notice (console/session/ViewNotice.h); from then on the view owns it. The
// record holds a counted reference to the object it shows, so the object stays valid while the
// record lives; giving the record up gives up only that reference.
//
// Kind, label and image come from the object's class, tested in this order:
//
//   class      kind  label                 image
//   CSession   7     its description       given, or 14; 13 when the description begins with
//                                          "Norvane ", 17 with "Real", 18 with "POP3"
//   CMachine   6     its address           0
//   CUser      0     its name              1
//   CGroup     1     its name              given, or 4
//   CLocation  2     its filter text       0
//   CService   3     its name              11, or 10 while it runs
//
// Any other object gets kind kNoKind, an empty label and the given image (0 for none). The
// machine's and the session's extra fields are filled from the object as it is when the
// record is made.

#include "platform/framework/Object.h"

#include <string>

class CWHTreeItem : public CObject {
    DECLARE_DYNAMIC(CWHTreeItem)
public:
    enum Kind {
        kNoKind = -1,
        kUser = 0,
        kGroup = 1,
        kLocation = 2,
        kService = 3,
        kMachine = 6,
        kSession = 7,
    };
    // The image is chosen by the object's class.
    static constexpr int kImageByClass = -1;
    // The view's own handle of a tree item; the session never sets or reads one.
    using Handle = void*;

    CWHTreeItem(CRef<CObject> object, std::string parentLabel, int image = kImageByClass);

    std::string text;         // the item's label
    int image = 0;            // index into the view's image list
    int kind = kNoKind;
    CRef<CObject> object;     // the object shown
    std::string parentLabel;  // the label of the item to insert under (sessions: the address)
    Handle handle = nullptr;        // the item in the tree
    Handle parentHandle = nullptr;  // where it was inserted (none: found by the parent label)
    std::string userText;    // machines: the machine's user; sessions: the machine's address
    std::string secondText;  // sessions: the machine's user
    int level = 0;           // machines: the log-on level; sessions: the session number
    int secondLevel = 0;     // sessions: the machine's log-on level
    Handle userChildHandle = nullptr;  // machines: the child item that shows the user
};
