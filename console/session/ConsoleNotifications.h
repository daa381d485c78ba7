#pragma once
// CConsoleNotifications: the engine's messages to the console applied to the console's copy of
// the configuration. The console session hands it every message that is not a status, whether
// it came by itself or in the middle of a request; the objects that follow a message are read
// from the session's frames. Changes to the copy are made under the lock of the container
// concerned, and the windows hear of each through the dispatcher (console/session/ViewNotice.h):
//
//   code       what changes                                                   notice
//   5          the log-on's requests are queued in order (kLogOnRequests)     -
//   22, 25     a new user / group, read, stored under its name                2, code, record
//   23, 26     the user / group named s1 leaves the database                  2, code, object
//   24, 27     the user / group named s1 reads the record (else dropped)      -
//   32         a service, read with its class, stored under its name          2, 32, record
//   33         the service s1 leaves the service manager                      2, 33, service
//   34         the service s1 reads the record (else dropped)                 2, 34, service
//   35         the service s1 takes the running state s2                      2, 35, service
//   41, 42     the eleven rights, kinds 0 to 10                               -
//   52         a new location, read, appended                                 2, 52, record
//   53         the location s1 leaves the array                               2, 53, location
//   54         the location s2 (when s1 and s2 differ and it exists) or s1    2, 54, location
//              reads the record (else dropped)
//   55, 56     the location s1 moves one place up / down                      2, code, location
//   62         the dialer's settings                                          6, 62, none
//   63         the status text s3 of the dialer profile s1                    6, 63, profile
//   71         the machine s1 (made when new): user s2, level s3              1, 71, record
//   72         the machine s1: user s2, level s3                              1, 72, machine
//   73         the machine s1 leaves the map with its sessions;               1, 73, machine
//              s2 seconds join its user's TimeOnLine                          5, 0, user
//   74         a session s2 of machine s1 with the machine's user and level,  1, 74, record
//              description s3
//   75         session s2 of machine s1: the machine's user and level again,  1, 75, session
//              description s3
//   76         session s2 leaves machine s1; the counters s3 ("%u %u %u %u")  1, 76, session
//              join its user's traffic                                        5, 0, user
//   80-84, 90  an alert: title s1, text s2, exclamation icon                  -
//   91         a message from user s2 on s1, text s3, answered to s1          -
//   120        "You must change your password", then Change Password         -
//   100-111    the same for the codes marked kAsksPassword, but only until the console has
//              received 5: afterwards anyone's request 100 could make this console ask for a
//              new password
//   131        the web cache's settings                                       7, 131, none
//
// kLogOnRequests and kAsksPassword are remote/RCPOperations.h's. Every other code is ignored.
// A message's objects are always read whole before anything is changed, so the stream stays in
// step even when an object cannot be used: a record whose name differs from the one its
// message names, one that the copy refuses (an unusable name), or one for an object the copy
// does not hold is dropped. Numbers in the texts are read strictly (foundation/Format.h); a
// text that is not a number changes nothing, and 76's counters count only when all four are
// numbers. Objects leave their containers only; they go with their last holder (the notice
// that names them, a window).
//
// The copy's machines and sessions are inert records: nothing is booked or told when they go.
//
// One thread (the session's) uses an object of this class.

#include "console/session/WardenhallHost.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <functional>
#include <string>
#include <vector>

class CNorvaneEngine;
class CNVRCPMessage;

// Where the objects that follow a message come from.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    // The image of the next frame. Throws X1SocketException when no whole frame can be had
    // (the stream is then out of step).
    virtual std::vector<BYTE> ReceiveImage() = 0;
};

class CConsoleNotifications {
public:
    using RequestQueue = std::function<void(WORD op)>;

    // `queue` queues a request with empty strings (the lists after 5).
    CConsoleNotifications(CNorvaneEngine& configuration, IWardenhallHost& host, IFrameSource& frames,
                          RequestQueue queue);
    CConsoleNotifications(const CConsoleNotifications&) = delete;
    CConsoleNotifications& operator=(const CConsoleNotifications&) = delete;

    // Applies one message (see the table above). Throws X1SocketException when an object that
    // follows it could not be read, and the archive's exception when one was malformed (every
    // frame of the message was read: the stream is in step).
    void Process(const CNVRCPMessage& message);

    // Payloads that requests and messages share; each reads all of its frames first and changes
    // the copy only when everything could be read. Throw as Process does.
    // The eleven rights, kinds 0 to 10 in order (request 40, messages 41 and 42).
    void ReceiveRights();
    // The dialer's settings (request 60, message 62).
    void ReceiveDialer();
    // The web cache's settings (request 130, message 131).
    void ReceiveCache();

private:
    void UpdateViews(int target, UINT code, CRef<CObject> object);
    void MustChangePassword();

    void AddEntry(const CNVRCPMessage& message, bool group);
    void RemoveEntry(const CNVRCPMessage& message, bool group);
    void ModifyEntry(const CNVRCPMessage& message, bool group);
    void AddService(const CNVRCPMessage& message);
    void RemoveService(const CNVRCPMessage& message);
    void ModifyService(const CNVRCPMessage& message);
    void SetServiceState(const CNVRCPMessage& message);
    void AddLocation(const CNVRCPMessage& message);
    void RemoveLocation(const CNVRCPMessage& message);
    void ModifyLocation(const CNVRCPMessage& message);
    void MoveLocation(const CNVRCPMessage& message);
    void SetDialerStatus(const CNVRCPMessage& message);
    void AddMachine(const CNVRCPMessage& message);
    void ChangeMachine(const CNVRCPMessage& message);
    void RemoveMachine(const CNVRCPMessage& message);
    void AddSession(const CNVRCPMessage& message);
    void ChangeSession(const CNVRCPMessage& message);
    void RemoveSession(const CNVRCPMessage& message);
    // Adds to the counters of the user `userName` (when the copy holds one) and tells its
    // sheet.
    void AddUsage(const std::string& userName, const DWORD (&traffic)[4], DWORD seconds);

    CNorvaneEngine& m_configuration;
    IWardenhallHost& m_host;
    IFrameSource& m_frames;
    RequestQueue m_queue;
    bool m_loggedOn = false;
};
