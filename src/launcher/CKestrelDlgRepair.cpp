// CKestrelDlg: "Repair game files" from the window's menu. The same check
// and repair as `varn-patch --repair`, on the module's worker once no
// update runs; its result is shown in a box.
#include <algorithm>
#include <string>

#include "host/CheckReport.h"
#include "launcher/CKestrelDlg.h"
#include "updatemodule/UpdateModule.h"

namespace {

enum : unsigned {
    kCheckingText = 138,
    kCheckedText = 139,
    kNotNowText = 140,
};

}  // namespace

void CKestrelDlg::OnRepair() {
    if (g_lpUpdateModule == nullptr || m_shutdown.Closing()) {
        return;
    }
    // One worker at a time: the update (or a check) in progress comes first.
    if (m_checking || !m_updateComplete || g_lpUpdateModule->IsClosedThread() == 0) {
        ShowBox(CMessageBox::Kind::Notice, Text(kNotNowText), nullptr);
        return;
    }
    Log("Repair requested");
    m_checking = g_lpUpdateModule->StartInstallCheck(1) != 0;
    if (!m_checking) {
        ShowBox(CMessageBox::Kind::Error, g_lpUpdateModule->GetLastErrorMsg(), nullptr);
    }
}

void CKestrelDlg::OnCheckNotification(int32_t code, const UPDATE_CALLBACK_INFO& info) {
    if (code == NOTIFY_CHECK_FILE || code == NOTIFY_REPAIR_FILE) {
        m_status.SetText(Text(kCheckingText) + " " + info.szFileName);
        const uint64_t total = std::max<uint64_t>(info.nTotalSize, 1);
        m_totalBar.SetPos(
            static_cast<int>(std::min<uint64_t>(100, info.nTotalReceived * 100 / total)));
        return;
    }
    m_checking = false;
    // The worker has ended (this is its last notification), so its findings
    // are settled; it may still be on its way out, which nothing here needs.
    std::string text = Text(kCheckedText);
    for (const std::string& line : CheckReportLines(g_lpUpdateModule->GetCheckFindings())) {
        text += "\n" + line;
        Log(line);
    }
    const int result = g_lpUpdateModule->GetCheckResult();
    if (result != CHECK_ALL_WELL) {
        text += std::string("\n\n") + g_lpUpdateModule->GetLastErrorMsg();
    }
    m_status.SetText(Text(kCheckedText));
    ShowBox(result == CHECK_ALL_WELL ? CMessageBox::Kind::Notice : CMessageBox::Kind::Error, text,
            nullptr);
}
