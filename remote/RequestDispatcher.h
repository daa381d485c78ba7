#pragma once
// CRequestDispatcher: the console requests of one remote-control session, decided and carried
// out on the session's thread between its statuses 1 and 3 (remote/RemoteControlSession.h
// sends the statuses, logs the request and echoes changes afterwards).
//
// CheckPermission follows the rules of remote/RCPOperations.h for the session's own logged-on
// user.
//
// Process, by code (Arg1-Arg3 are the request's):
//   12, 13       save the configuration / reload it from the store (the engine object)
//   20, 30, 50   queue a notification for every user (22) and group (25), service (32),
//                location (52), sent after the request
//   21-27        the user database: upload, add, delete, modify users and groups
//   31-35        the services: upload the list, add (tagged), delete, modify, start or stop
//   40-42        send / receive the eleven rights of kinds 0-10
//   51-56        the locations: upload, add, delete, modify, promote, demote
//   60-62        the dialer: its phonebook read afresh and its settings sent, or settings
//                received (then its log reopened)
//   63           dial (Arg2 1) or reset (Arg2 0) the dialer profile Arg1, on the dialer's
//                thread; nothing while a dial is in progress, for an unknown profile, or for
//                an Arg2 that is not a decimal number
//   70           queue machine added (71) for every client machine and session started
//                (74) for each of its sessions
//   73, 76       end a client machine / one of its sessions (code 2)
//   80-84        register the session for every notification
//   91, 100      a message (91) / an attention call (101) to the consoles of address Arg1
//   120          the session user's own password
//   130-134      the web cache: send or receive its settings, purge, remove a URL, rebuild
//   140          shut the engine down once the request's status 3 has gone out
// Every other code does nothing.
//
// Uploads (remote/ConfigurationUploads.h) read their whole payload before anything changes,
// then change their object all or nothing: a payload that is malformed or refused throws, so
// the request answers 4 with nothing changed and the connection still in step. Objects sent
// are framed whole before the first goes out, so one that cannot be framed answers 4 with
// nothing sent. A modify request for an object that no longer exists reads its record and
// drops it.

#include "platform/kernel/Types.h"

#include <string>

class CNorvaneEngine;
class CObject;
class CNVRCPMessage;
class CRemoteControlSession;

class CRequestDispatcher {
public:
    explicit CRequestDispatcher(CRemoteControlSession& session);
    CRequestDispatcher(const CRequestDispatcher&) = delete;
    CRequestDispatcher& operator=(const CRequestDispatcher&) = delete;

    // Whether the session may make the request.
    BOOL CheckPermission(const CNVRCPMessage& message);
    // Carries a granted request out; throws to answer status 4.
    void Process(const CNVRCPMessage& message);

private:
    // The service right of kind `kind` of service `name`; FALSE when there is no such service.
    BOOL IsServiceRightGranted(const std::string& name, DWORD kind);

    void ListUsersAndGroups();
    void UploadUsers();
    void AddUserOrGroup(const CNVRCPMessage& message, bool group);
    void ModifyUserOrGroup(const CNVRCPMessage& message, bool group);
    void DeleteGroup(const std::string& name);
    void ListServices();
    void AddService(const CNVRCPMessage& message);
    void ModifyService(const CNVRCPMessage& message);
    void StartOrStopService(const CNVRCPMessage& message);
    void SendRights();
    void ReceiveRights();
    void ListLocations();
    void ListActivity();
    void TerminateSession(const CNVRCPMessage& message);
    void ReceiveDialer();
    void DialOrHangUp(const CNVRCPMessage& message);
    // The whole object, framed before anything goes out.
    void SendWhole(CObject& object);

    CRemoteControlSession& m_session;
    CNorvaneEngine& m_engine;
};
