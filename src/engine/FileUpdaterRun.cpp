// The patch run: update.uvf, the archive loop, the manual archive.
#include "engine/FileUpdater.h"

int CFileUpdater::DownLoadUpdateFile() { return 0; }

int CFileUpdater::UpdateProcess() { return 0; }

int CFileUpdater::ApplyManualArchive() { return 0; }
