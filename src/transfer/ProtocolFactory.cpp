#include "transfer/FTPUpdater.h"
#include "transfer/HTTPUpdater.h"
#include "transfer/ProtocolUpdater.h"

CProtocolUpdater* CreateProtocolUpdater(int protocol) {
    if (protocol == 1)
        return new CHTTPUpdater();
    return new CFTPUpdater();
}
