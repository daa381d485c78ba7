#pragma once
// The web session's conversation with an FTP server for one ftp:// request (its
// ProcessFTPReply and the FTP transfer), as decisions: for each reply and each event on the
// data connection, what goes to the client, what goes to the server and what happens to the
// data connection. Passive mode is the only data mode.
//
//   connected   220 -> USER user
//   USER        331 -> PASS password; 230 -> as after PASS; 530 -> anonymous-access page
//   PASS        230 -> GET: SYST; PUT: upload, PASV; 530 -> anonymous-access page
//   SYST        any -> CWD path
//   CWD         250 -> PASV (a directory); 550 -> a file, PASV
//   PASV        227 -> open the data connection to the port of the reply, then LIST
//               (directory) or TYPE I (file, upload); a reply without a usable port -> page
//   TYPE I      200 -> file: SIZE path; upload: STOR path
//   SIZE        any -> RETR path (213 with digits gives the Content-Length)
//   RETR        150, 125 -> the document head; 550 -> file-access page
//   LIST        200, 125, 150 -> the head and the top of the listing page
//   STOR        200, 125, 150 -> relay the client's body to the data connection;
//               226 -> "200 OK" to the client, QUIT; 550 -> file-access page
//   any other reply of 400 or more, or a reply line without a code -> an error page with the
//   server's line (or, once a head went to the client, the end of the session)
//   after a 226, or after QUIT, replies are ignored
//
// The session carries a step out in the order of SFTPStep's fields, and holds every event of
// the data connection (bytes and close) until IsHeadSent(): a server may send the data before
// its 150 arrives, and the client must get the head first.

#include "platform/kernel/Types.h"
#include "proxies/web/ErrorPage.h"
#include "proxies/web/FTPCommand.h"
#include "proxies/web/FTPListing.h"
#include "proxies/ftp/FTPReply.h"
#include "proxies/web/OutboundRequest.h"
#include "proxies/web/WWWRequest.h"
#include "proxies/web/WWWTexts.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The FTP transfer state.
enum EFTPTransfer : DWORD {
    kFTPListing = 0,   // a directory listing
    kFTPDownload = 1,  // a file
    kFTPUpload = 2,    // a PUT
};

// What the session does, in this order.
struct SFTPStep {
    std::string toClient;                // send to the client
    bool interim = false;                // toClient is an interim answer ("100 Continue"),
                                         // not the start of the answer
    std::optional<WORD> dataPort;        // connect the data socket (ConnectRemote, so
                                         // through ConnectMethod and COutboundTargetGuard)
                                         // to the FTP server of the control connection,
                                         // never to the reply's address, at this port;
                                         // read and close events
    DWORD commandCode = FTP_NONE;        // FTP_NONE: no command
    std::string command;                 // send on the control connection (log it with
                                         // FTPCommandForLog)
    bool relayUpload = false;            // pass the client's body to the data socket now:
                                         // what came with the head, then every client read
                                         // (RelayClientData), each through OnUploadData
    bool closeData = false;              // close the data socket
    bool endSession = false;             // end the session (after toClient, closing the
                                         // client connection)
};

class CFTPControl {
public:
    // For a parsed ftp:// request (protocol code 4). `folder` is the engine's folder (the
    // listing icons); `bodyWithHead` the number of body bytes that came with the request head.
    CFTPControl(const CWWWRequest& request, std::string folder, std::size_t bodyWithHead);
    CFTPControl(const CFTPControl&) = delete;
    CFTPControl& operator=(const CFTPControl&) = delete;

    // Before connecting: the error page for a request this cannot serve (a method other than
    // GET and PUT, a PUT without a Content-Length), or "".
    static std::string CheckRequest(const CWWWRequest& request);

    // One reply of the control connection; `now` dates a document head.
    SFTPStep OnReply(const SFTPReply& reply, std::int64_t now);
    // The control connection closed: the anonymous-access page after a 530, another error
    // page when the client got nothing yet; the session ends either way.
    SFTPStep OnControlClosed();

    // The server left a reply line unfinished past the reply time (30000 ms): the FTP
    // time-out page (GatewayTimeoutTitle, GatewayTimeoutDescription) when the client got
    // nothing yet; the session ends either way.
    SFTPStep OnReplyTimeout();

    // Data connection, once IsHeadSent(): listing bytes become page markup to send; a
    // download's bytes go to the client as they are.
    std::string OnListingData(std::string_view bytes);
    // The data connection closed (after the session relayed a download's last bytes): the
    // rest of a listing page, QUIT, close the data socket.
    SFTPStep OnDataClosed();

    struct SUpload {
        std::size_t send = 0;   // how many leading bytes go to the data socket (the rest are
                                // beyond the Content-Length and dropped)
        bool complete = false;  // the whole body went: close the data socket, wait for 226
    };
    // `count` bytes of the client's body, during an upload.
    SUpload OnUploadData(std::size_t count);

    bool IsHeadSent() const { return m_headSent; }
    // A 226 was taken: later replies are ignored.
    bool IsDone() const { return m_done; }
    // An error ended the conversation: later replies are ignored.
    bool IsEnded() const { return m_ended; }
    DWORD GetTransferState() const { return m_transfer; }
    DWORD GetLastCommand() const { return m_lastCommand; }
    DWORD GetReplyCode() const { return m_replyCode; }

private:
    SFTPStep Dispatch(const SFTPReply& reply, std::int64_t now, bool& handled);
    SFTPStep LoggedIn();
    SFTPStep Send(DWORD code, std::string_view argument = {});
    SFTPStep SendHead(const SFTPReply& reply, std::int64_t now);
    SFTPStep Page(EPageStatus status, const SErrorText& title, const SErrorText& description,
                  std::string_view replyLine = {});

    std::string m_method;
    std::string m_path;
    std::string m_user;
    std::string m_password;
    bool m_expectsContinue = false;
    std::size_t m_bodyWithHead = 0;
    CBodyRelay m_upload;
    CFTPListing m_listing;

    DWORD m_transfer = kFTPListing;
    DWORD m_lastCommand = FTP_NONE;
    DWORD m_replyCode = 0;
    std::optional<std::uint64_t> m_size;
    bool m_headSent = false;
    bool m_ended = false;  // an error ended the conversation (with a page or without)
    bool m_done = false;
};
