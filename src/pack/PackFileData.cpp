// CPackFile: files inside the pack (reading, deleting, adding, directories)
// and the placement of content in the data region.
#include <cstring>
#include <memory>
#include <vector>

#include "pack/PackFile.h"
#include "pack/PackFileFormat.h"
#include "pack/PackFileFreeIndex.h"
#include "pack/PackFileTree.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

using namespace packfmt;

struct PackSubFile {
    const PackNode* node;
    uint64_t pos = 0;
};

namespace {

constexpr uint32_t kErrorHandleEof = 38;

void XorBuffer(uint8_t* p, size_t n, uint8_t key) {
    if (!key)
        return;
    for (size_t i = 0; i < n; ++i)
        p[i] ^= key;
}

}  // namespace

PackSubFile* CPackFile::OpenFile(const char* innerPath, int mode) {
    if (!m_pFile || !innerPath || mode != PACK_MODE_READ) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return nullptr;
    }
    const PackNode* node = m_pTree->Find(ToStored(innerPath));
    if (!node || node->IsDirectory()) {
        if (node)
            DebugOut("++++++++++ ReadFail_1_ErrorCode : %s\n", innerPath);
        plat::SetLastError(plat::ERROR_FILE_NOT_FOUND_CODE);
        return nullptr;
    }
    return new PackSubFile{node};
}

int CPackFile::ReadFile(PackSubFile* file, void* buffer, uint32_t len) {
    if (!m_pFile || !file) {
        plat::SetLastError(plat::ERROR_INVALID_HANDLE_CODE);
        return 0;
    }
    if (len > file->node->size - file->pos) {
        DebugOut("++++++++++ ReadFail_3_Error :\n");
        plat::SetLastError(kErrorHandleEof);
        return 0;
    }
    if (len && !ReadAt(m_pFile, file->node->offset + file->pos, buffer, len))
        return 0;
    XorBuffer(static_cast<uint8_t*>(buffer), len, m_byDataKey);
    file->pos += len;
    return 1;
}

void CPackFile::CloseFile(PackSubFile* file) {
    delete file;
}

uint64_t CPackFile::GetSubFileSize(const PackSubFile* file) {
    return file ? file->node->size : 0;
}

void CPackFile::ReleaseBlock(uint64_t offset, uint64_t size) {
    if (size == 0)
        return;
    FreeIndex& index = *m_pFreeIndex;
    if (index.unused.empty())
        return;  // all 5000 entries in use: the space stays unused
    uint32_t i = *index.unused.begin();
    index.unused.erase(index.unused.begin());
    m_FreeSize[i] = size;
    m_FreeOffset[i] = offset;
    index.bySize.emplace(size, i);
}

uint64_t CPackFile::PlaceContent(uint64_t size) {
    if (size == 0)
        return m_nEndOfData;
    FreeIndex& index = *m_pFreeIndex;
    auto it = index.bySize.lower_bound({size, 0});
    if (it == index.bySize.end() || it->first >= kBestFitLimit) {
        uint64_t offset = m_nEndOfData;
        m_nEndOfData += size;
        return offset;
    }
    // Best fit: the front of the block is taken, the rest stays free.
    uint32_t i = it->second;
    uint64_t offset = m_FreeOffset[i], rest = it->first - size;
    index.bySize.erase(it);
    if (rest == 0) {
        m_FreeSize[i] = m_FreeOffset[i] = 0;
        index.unused.insert(i);
    } else {
        m_FreeSize[i] = rest;
        m_FreeOffset[i] = offset + size;
        index.bySize.emplace(rest, i);
    }
    return offset;
}

int CPackFile::DeleteFile(const char* innerPath) {
    if (!m_pFile || !m_bWritable || !innerPath) {
        plat::SetLastError(plat::ERROR_ACCESS_DENIED_CODE);
        return 0;
    }
    PackNode* node = m_pTree->Find(ToStored(innerPath));
    if (!node || node == m_pTree->Root()) {
        DebugOut("Not File SameName Tree-Node\n");
        DebugOut("Remove Fsvfs Tree Fail\n");
        plat::SetLastError(plat::ERROR_FILE_NOT_FOUND_CODE);
        return 0;
    }
    // The tables reach the disk once, on Close, however many files go.
    if (!node->IsDirectory())
        ReleaseBlock(node->offset, node->size);
    m_pTree->ForEachBelow(node, [this](const PackNode* n) {
        if (!n->IsDirectory())
            ReleaseBlock(n->offset, n->size);
    });
    m_pTree->Unlink(node);
    m_bDirty = true;
    DebugOut("Remove Fsvfs Tree SUCCESS\n");
    return 1;
}

int CPackFile::MakeDirectory(const char* innerPath) {
    if (m_pFile && m_bWritable && innerPath && m_pTree->MakeDirectories(ToStored(innerPath))) {
        m_bDirty = true;
    }
    return 1;
}

int CPackFile::CopyIntoPack(ContentReader read, void* ctx, uint64_t offset, uint64_t size) {
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyChunk]);
    uint64_t done = 0;
    while (done < size) {
        size_t n = size_t(std::min<uint64_t>(kCopyChunk, size - done));
        if (!read(ctx, buf.get(), n)) {
            plat::SetLastError(plat::ERROR_READ_FAULT_CODE);
            return 0;
        }
        XorBuffer(buf.get(), n, m_byDataKey);
        if (!WriteAt(m_pFile, offset + done, buf.get(), n))
            return 0;
        done += n;
        ReportProgress(done * 100 / size);
    }
    return std::fflush(m_pFile) == 0 ? 1 : 0;
}

PackNode* CPackFile::PrepareAdd(const char* innerPath, std::string* name) {
    if (!m_pFile || !m_bWritable || !innerPath) {
        plat::SetLastError(plat::ERROR_ACCESS_DENIED_CODE);
        return nullptr;
    }
    std::string inner = ToStored(innerPath);
    size_t cut = inner.find_last_of('\\');
    *name = cut == std::string::npos ? inner : inner.substr(cut + 1);
    PackNode* parent = m_pTree->MakeDirectories(
        cut == std::string::npos ? "" : std::string_view(inner).substr(0, cut));
    m_bDirty = true;  // MakeDirectories may have added parents
    if (name->empty() || !parent) {
        plat::SetLastError(plat::ERROR_INVALID_NAME_CODE);
        return nullptr;
    }
    if (parent->index.count(CPackFileTree::Lower(*name))) {
        plat::SetLastError(plat::ERROR_ALREADY_EXISTS_CODE);
        return nullptr;
    }
    return parent;
}

int CPackFile::StoreContent(PackNode* parent, const std::string& name, uint64_t size,
                            ContentReader read, void* ctx) {
    uint64_t offset = PlaceContent(size);
    if (!CopyIntoPack(read, ctx, offset, size)) {
        uint32_t error = plat::GetLastError();
        if (offset + size == m_nEndOfData) {
            m_nEndOfData = offset;  // it was appended: give the space back
        } else {
            ReleaseBlock(offset, size);
        }
        plat::SetLastError(error);
        return 0;
    }
    // The node appears only once its content is complete.
    PackNode* node = m_pTree->AddChild(parent, name, 0);
    node->size = size;
    node->offset = offset;
    return 1;
}

int CPackFile::AddFile(const char* localPath, const char* innerPath) {
    std::string name;
    PackNode* parent = localPath ? PrepareAdd(innerPath, &name) : nullptr;
    if (!parent) {
        if (!localPath)
            plat::SetLastError(plat::ERROR_ACCESS_DENIED_CODE);
        return 0;
    }
    std::FILE* src = std::fopen(ToLocal(localPath).c_str(), "rb");
    if (!src) {
        plat::SetLastErrorFromErrno();
        return 0;
    }
    uint64_t size = 0;
    if (!plat::StreamLength(src, size))
        size = 0;
    std::rewind(src);
    const int ok = StoreContent(
        parent, name, size,
        [](void* f, uint8_t* buf, size_t n) {
            return std::fread(buf, 1, n, static_cast<std::FILE*>(f)) == n;
        },
        src);
    std::fclose(src);
    return ok;
}

int CPackFile::AddData(const void* data, uint64_t size, const char* innerPath) {
    std::string name;
    PackNode* parent = data || size == 0 ? PrepareAdd(innerPath, &name) : nullptr;
    if (!parent)
        return 0;
    const auto* next = static_cast<const uint8_t*>(data);
    return StoreContent(
        parent, name, size,
        [](void* at, uint8_t* buf, size_t n) {
            auto*& p = *static_cast<const uint8_t**>(at);
            std::memcpy(buf, p, n);
            p += n;
            return true;
        },
        &next);
}

bool CPackFile::Exists(const char* innerPath) const {
    return m_pTree && m_pTree->Find(ToStored(innerPath)) != nullptr;
}

bool CPackFile::GetFileInfo(const char* innerPath, uint64_t* offset, uint64_t* size) const {
    const PackNode* n = m_pTree ? m_pTree->Find(ToStored(innerPath)) : nullptr;
    if (!n || n->IsDirectory())
        return false;
    if (offset)
        *offset = n->offset;
    if (size)
        *size = n->size;
    return true;
}

void CPackFile::ForEachFileImpl(void (*fn)(void*, const std::string&, uint64_t), void* ctx) const {
    if (!m_pTree)
        return;
    std::vector<std::pair<const PackNode*, std::string>> stack;
    for (const PackNode* c = m_pTree->Root()->firstChild; c; c = c->next)
        stack.emplace_back(c, "");
    while (!stack.empty()) {
        auto [n, dir] = std::move(stack.back());
        stack.pop_back();
        std::string path = dir.empty() ? n->name : dir + "\\" + n->name;
        if (!n->IsDirectory()) {
            fn(ctx, path, n->size);
            continue;
        }
        for (const PackNode* c = n->firstChild; c; c = c->next)
            stack.emplace_back(c, path);
    }
}
