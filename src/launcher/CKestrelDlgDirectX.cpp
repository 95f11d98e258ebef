// CKestrelDlg: the DirectX diagnostics button.
#include "host/DirectXReport.h"
#include "host/LauncherRules.h"
#include "launcher/CKestrelDlg.h"
#include "updatemodule/UpdateModule.h"

void CKestrelDlg::OnDirectX() {
    if (g_lpUpdateModule == nullptr) {
        return;
    }
    // Inspecting records no error: the button may be pressed while the
    // update runs and owns the last-error record.
    char installed[10] = "", prefix[260] = "", directory[260] = "";
    DirectXFindings found;
    found.accepted =
        g_lpUpdateModule->InspectDXVersion(kRequiredDirectX, installed, prefix, directory) != 0;
    found.installed = installed;
    found.winePrefix = prefix;
    found.directory = directory;
    ShowBox(CMessageBox::Kind::Notice, DirectXReport(found, kRequiredDirectX, m_bundle), nullptr);
}
