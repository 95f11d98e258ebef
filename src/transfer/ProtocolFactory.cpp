#include "transfer/FTPUpdater.h"
#include "transfer/HTTPUpdater.h"
#include "transfer/ProtocolUpdater.h"

CProtocolUpdater* CreateProtocolUpdater(TransferProtocol protocol) {
    if (protocol == TransferProtocol::HTTP)
        return new CHTTPUpdater();
    if (protocol == TransferProtocol::HTTPS)
        return new CHTTPUpdater(true);
    return new CFTPUpdater();
}
