#pragma once
// CWWWService: the web proxy service. It listens for browsers that use the engine as their
// HTTP proxy and makes a CWWWSession of each connection. Besides a TCP service's settings it
// keeps what decides relative ("non-proxy") requests beyond their action: whether they may use
// the cache, the text put before their path when they are forwarded, the address of the
// redirect answer and the folder of files served for them.
//
// Registry values (in the service's own key, after the TCP service's) and archive fields
// (after the TCP service's), in this order: CacheNonProxyRequests (DWORD), PrependResource
// (DWORD), PrependInfo, RedirectURL, ServerRoot (strings).

#include "engine/framework/TCPService.h"
#include "platform/kernel/Types.h"

#include <string>

class CWWWService : public CTCPService {
    DECLARE_SERIAL(CWWWService)
public:
    // The service's own settings, with their defaults.
    struct WebSettings {
        DWORD cacheNonProxyRequests = 0;
        DWORD prependResource = 0;
        std::string prependInfo;
        std::string redirectURL;
        std::string serverRoot;
    };

    // "WWW Proxy server" on port 80.
    CWWWService();

    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    // A CWWWSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;

    // Copies, under the settings mutex (sessions copy them when they are made).
    WebSettings GetWebSettings() const;
    void SetWebSettings(const WebSettings& settings);

private:
    WebSettings m_web;
};
