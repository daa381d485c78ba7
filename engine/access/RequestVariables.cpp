#include "engine/access/RequestVariables.h"

BOOL IsComparisonApplicable(DWORD comparison, std::int32_t type) {
    const bool isString = type == CNVDataObject::TypeString;
    switch (comparison) {
    case ComparisonEquals: return TRUE;
    case ComparisonGreaterThan:
    case ComparisonLessThan: return isString ? FALSE : TRUE;
    case ComparisonContains:
    case ComparisonBeginsWith:
    case ComparisonEndsWith:
    case ComparisonIsEmpty: return isString ? TRUE : FALSE;
    default: return FALSE;
    }
}

BOOL IsRequestVariableOffered(DWORD index, int serviceKind) {
    switch (index) {
    case RequestServerName:
    case RequestServerPortNumber:
        return serviceKind != kServiceKindRemoteControl && serviceKind != kServiceKindDNS ? TRUE
                                                                                         : FALSE;
    case RequestHTTPProtocol:
    case RequestHTTPMethod:
    case RequestHTTPResource:
    case RequestHTTPURL:
    case RequestHTTPPostData:
    case RequestHTTPQueryString:
    case RequestHTTPHeaderField: return serviceKind == kServiceKindWWW ? TRUE : FALSE;
    case RequestPOP3UserName: return serviceKind == kServiceKindPOP3 ? TRUE : FALSE;
    case RequestFTPUserName: return serviceKind == kServiceKindFTP ? TRUE : FALSE;
    case RequestVDOLiveFile: return serviceKind == kServiceKindVDOLive ? TRUE : FALSE;
    case RequestSOCKSVersion:
    case RequestSOCKSCommand:
    case RequestSOCKSAddressType: return serviceKind == kServiceKindSOCKS ? TRUE : FALSE;
    default: return index < kRequestVariableCount ? TRUE : FALSE;
    }
}
