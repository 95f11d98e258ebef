#include "engine/StagedCopy.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"

namespace {

constexpr const char* kStagedSuffix = ".varn-new";
constexpr const char* kBackupSuffix = ".varn-old";

}  // namespace

CStagedCopy::~CStagedCopy() {
    Abandon();
}

bool CStagedCopy::Stage(const std::string& source, const std::string& target) {
    if (plat::IsDirectory(target)) {
        // Checked now: the move at commit time could not replace it.
        plat::SetLastError(plat::ERROR_ACCESS_DENIED_CODE);
        return false;
    }
    const std::string dir = plat::DirName(target);
    if (!dir.empty() && !plat::CreateDirectoryChain(dir)) {
        return false;
    }
    const std::string staged = target + kStagedSuffix;
    // The copy is itself written to a temporary name and renamed, so a
    // staged file is always whole.
    if (!plat::CopyFile(source, staged, false)) {
        return false;
    }
    m_files.push_back({staged, target, ""});
    return true;
}

bool CStagedCopy::Commit() {
    for (size_t i = 0; i < m_files.size(); ++i) {
        File& f = m_files[i];
        bool ok = true;
        if (plat::FileExists(f.target)) {
            f.backup = f.target + kBackupSuffix;
            ok = plat::MoveFile(f.target, f.backup);
            if (!ok) {
                f.backup.clear();
            }
        }
        ok = ok && plat::MoveFile(f.staged, f.target);
        if (!ok) {
            const uint32_t error = plat::GetLastError();
            RollBack(i);
            plat::SetLastError(error);
            return false;
        }
    }
    for (const File& f : m_files) {
        if (!f.backup.empty()) {
            plat::DeleteFile(f.backup);
        }
    }
    m_files.clear();
    return true;
}

void CStagedCopy::RollBack(size_t movedCount) {
    // The file that failed may have lost its target to the backup already.
    for (size_t i = movedCount + 1; i-- > 0;) {
        const File& f = m_files[i];
        if (i < movedCount) {
            plat::DeleteFile(f.target);
        }
        if (!f.backup.empty()) {
            plat::MoveFile(f.backup, f.target);
        }
    }
    Abandon();
}

void CStagedCopy::Abandon() {
    for (const File& f : m_files) {
        plat::DeleteFile(f.staged);
    }
    m_files.clear();
}
