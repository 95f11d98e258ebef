#include "transfer/ProtocolUpdater.h"

// Placeholder until the transfer classes exist.
CProtocolUpdater* CreateProtocolUpdater(int /*protocol*/) { return nullptr; }
