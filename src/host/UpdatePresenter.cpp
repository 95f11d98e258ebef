#include "host/UpdatePresenter.h"

#include <algorithm>
#include <cstring>

namespace {

// Window string ids of the progress texts.
enum : unsigned {
    IDS_FULL_VERSION = 104,
    IDS_CONNECTING = 105,  // 105-108 follow notifications 0-3
    IDS_ERROR = 109,
    IDS_DOWNLOAD = 110,
    IDS_FILE_SIZE = 111,
    IDS_RECEIVED = 112,
    IDS_UPDATE_VERSION = 113,
    IDS_EXTRACT = 114,
    IDS_DONE = 115,
    IDS_APPLY = 116,
    IDS_COMPLETE = 117,
    IDS_FAILED = 118,
};

class CTexts {
public:
    explicit CTexts(plat::ResourceHandle bundle) : m_bundle(bundle) {}
    std::string operator()(unsigned id) const {
        char buf[kStringBuffer] = "";
        plat::LoadResourceString(m_bundle, id, buf, sizeof(buf));
        return buf;
    }

private:
    plat::ResourceHandle m_bundle;
};

// A text field of the record; the worker may leave one unterminated.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

BarUpdate Bar(int position) {
    const int pos = std::clamp(position, 0, kProgressBarRange);
    return {pos, PercentText(pos)};
}

// done / size of the bar's range in integers. The product is taken in 128
// bits: 308 times a 64-bit count does not fit in 64.
std::optional<BarUpdate> ByBytes(uint64_t done, uint64_t size) {
    if (size == 0) {
        return std::nullopt;
    }
    if (done >= size) {
        return Bar(kProgressBarRange);
    }
    const unsigned __int128 scaled = static_cast<unsigned __int128>(done) * kProgressBarRange;
    return Bar(static_cast<int>(scaled / size));
}

// The same in double precision, as the total bar of the running steps has it.
std::optional<BarUpdate> ByBytesDouble(uint64_t done, uint64_t size) {
    if (size == 0) {
        return std::nullopt;
    }
    const double pos = static_cast<double>(done) / static_cast<double>(size) * kProgressBarRange;
    return Bar(pos >= kProgressBarRange ? kProgressBarRange : static_cast<int>(pos));
}

std::optional<BarUpdate> ByItems(int32_t index, int32_t count) {
    if (count <= 0) {
        return std::nullopt;
    }
    const int64_t done = std::clamp<int64_t>(index, 0, count);
    return Bar(static_cast<int>(done * kProgressBarRange / count));
}

// The pack-closing animation: a percentage, single precision as it always was.
BarUpdate ByPercent(uint64_t percent) {
    const uint64_t shown = std::min<uint64_t>(percent, 100);
    const float pos = static_cast<float>(shown) * 0.01f * static_cast<float>(kProgressBarRange);
    return {std::clamp(static_cast<int>(pos), 0, kProgressBarRange), std::to_string(shown) + "%"};
}

std::string Num(int64_t n) {
    return std::to_string(n);
}

std::string Num(uint64_t n) {
    return std::to_string(n);
}

std::string ErrorDetails(const UPDATE_CALLBACK_INFO& info) {
    return Field(info.szErrorMsg) + " ErrorCode " + Num(int64_t{info.nErrorCode}) +
           " CustomErrorCode " + Num(int64_t{info.nCustomErrorCode});
}

void Failure(Presentation& p, const UPDATE_CALLBACK_INFO& info, const PresenterFlags& flags,
             const CTexts& text) {
    p.logLines.push_back(text(IDS_FAILED) + "(" + ErrorDetails(info) + ")");
    if (!flags.closing) {
        // An empty error text still ends the launcher: say that it failed.
        const std::string error = Field(info.szErrorMsg);
        p.steps.push_back({PresenterAction::ShowError, error.empty() ? text(IDS_FAILED) : error});
    }
    p.updateComplete = false;
    p.steps.push_back({PresenterAction::StartShutdown, ""});
}

void Complete(Presentation& p, const PresenterFlags& flags, const CTexts& text) {
    p.status = text(IDS_COMPLETE);
    p.updateComplete = true;
    if (flags.termsAgreed) {
        p.startBitmap = kStartBitmapEnabled;
    }
    p.fileBar = Bar(kProgressBarRange);
    p.totalBar = Bar(kProgressBarRange);
}

// Notifications 9-12: a step over the items of an archive or file list.
void ItemStep(Presentation& p, int32_t code, const UPDATE_CALLBACK_INFO& info, const CTexts& text) {
    const std::string name = Field(info.szFileName);
    const std::string index = Num(int64_t{info.nFileIndex});
    const std::string count = Num(int64_t{info.nFileCount});
    switch (code) {
        case NOTIFY_EXTRACT_FILE:
            p.status = text(IDS_EXTRACT) + " : " + index + " / " + count + " " + name;
            break;
        case NOTIFY_EXTRACT_END:
            p.logLines.push_back(text(IDS_EXTRACT) + " : " + name + text(IDS_DONE));
            break;
        case NOTIFY_APPLY_START:
            p.status = text(IDS_APPLY) + " : " + name;
            p.logLines.push_back(*p.status);
            break;
        default:  // NOTIFY_APPLY_FILE
            p.status = text(IDS_APPLY) + " : " + name + " (" + index + "/" + count + ")";
            break;
    }
    p.fileBar = ByItems(info.nFileIndex, info.nFileCount);
    p.totalBar = ByBytesDouble(info.nTotalReceived, info.nTotalSize);
}

// Notifications 5-8: downloads and the start of an archive.
void DownloadStep(Presentation& p, int32_t code, const UPDATE_CALLBACK_INFO& info,
                  const CTexts& text) {
    const std::string name = Field(info.szFileName);
    switch (code) {
        case NOTIFY_DOWNLOAD_START:
            p.status = text(IDS_DOWNLOAD) + ": " + name;
            p.logLines.push_back(*p.status);
            p.fileBar = Bar(0);
            p.totalBar = Bar(0);
            return;
        case NOTIFY_DOWNLOAD_PROGRESS:
            p.status = text(IDS_FILE_SIZE) + ": " + Num(info.nFileReceived) + " / " +
                       Num(info.nFileSize) + " Bytes";
            p.fileBar = ByBytes(info.nFileReceived, info.nFileSize);
            p.totalBar = ByBytesDouble(info.nTotalReceived, info.nTotalSize);
            return;
        case NOTIFY_DOWNLOAD_END:
            p.logLines.push_back(text(IDS_RECEIVED) + " : " + name + " (" + Num(info.nFileSize) +
                                 " Bytes)");
            break;
        default:  // NOTIFY_EXTRACT_START
            p.status = text(IDS_UPDATE_VERSION) + Field(info.szMajorVersion) + "(" +
                       Field(info.szMinorVersion) + ")";
            p.logLines.push_back(*p.status);
            p.logLines.push_back(text(IDS_EXTRACT) + " : " + name);
            p.fileBar = Bar(0);
            break;
    }
    if (std::optional<BarUpdate> file = ByBytes(info.nFileReceived, info.nFileSize)) {
        p.fileBar = file;
    }
    p.totalBar = ByBytes(info.nTotalReceived, info.nTotalSize);
}

}  // namespace

std::string PercentText(int position) {
    const int pos = std::clamp(position, 0, kProgressBarRange);
    return std::to_string(pos * 100 / kProgressBarRange) + "%";
}

Presentation PresentNotification(int32_t code, const UPDATE_CALLBACK_INFO& info,
                                 const PresenterFlags& flags, plat::ResourceHandle bundle) {
    const CTexts text(bundle);
    Presentation p;
    switch (code) {
        case NOTIFY_FTP_CONNECTING:
        case NOTIFY_FTP_CONNECTED:
        case NOTIFY_FTP_CONNECT_FAILED:
        case NOTIFY_FTP_CLOSED:
            p.status = text(IDS_CONNECTING + static_cast<unsigned>(code));
            break;
        case NOTIFY_ERROR:
            p.logLines.push_back(text(IDS_ERROR) + " : " + Field(info.szErrorMsg) + " (ErrorCode " +
                                 Num(int64_t{info.nErrorCode}) + " CustomErrorCode " +
                                 Num(int64_t{info.nCustomErrorCode}) + ")");
            break;
        case NOTIFY_DOWNLOAD_START:
        case NOTIFY_DOWNLOAD_PROGRESS:
        case NOTIFY_DOWNLOAD_END:
        case NOTIFY_EXTRACT_START:
            DownloadStep(p, code, info, text);
            break;
        case NOTIFY_EXTRACT_FILE:
        case NOTIFY_EXTRACT_END:
        case NOTIFY_APPLY_START:
        case NOTIFY_APPLY_FILE:
            ItemStep(p, code, info, text);
            break;
        case NOTIFY_UPDATE_COMPLETE:
            Complete(p, flags, text);
            break;
        case NOTIFY_UPDATE_FAILED:
            Failure(p, info, flags, text);
            break;
        case NOTIFY_FULL_VERSION_NEEDED:
            p.steps.push_back({PresenterAction::ShowNotice, text(IDS_FULL_VERSION)});
            p.steps.push_back({PresenterAction::OpenHomePage, ""});
            break;
        case NOTIFY_PERCENT:
            p.fileBar = ByPercent(info.nPercent);
            break;
        case NOTIFY_LAUNCHER_HANDOVER:
            p.logLines.push_back("Launcher hand-over: closing for the new launcher");
            p.steps.push_back({PresenterAction::CloseForHandOver, ""});
            break;
        default:
            break;
    }
    return p;
}
