// Per-test sandbox: a fresh current directory and $TMPDIR, with the shared
// logger state reset and g_UpdateLogger pointed at it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/UpdaterBase.h"
#include "support/TempDir.h"
#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdateModule.h"

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tmp = std::make_unique<varntest::TempDir>(varntest::TempDir::Options{
            .enter = true, .redirectTmp = true, .prefix = "varn-module"});
        m_dir = m_tmp->path();
        unsetenv("XDG_RUNTIME_DIR");
        CUpdaterBase::ResetSharedStateForTests();
        g_UpdateLogger.SetBaseDirectory(m_dir.c_str());
        g_UpdateLogger.m_nUserLogMode = 0;
        g_LoginFront.SetLoginFront(1);
    }
    void TearDown() override { CUpdaterBase::ResetSharedStateForTests(); }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    void EnableLogs() {
        Write(Path("LauncherLog.log"), "");
        CUpdaterBase::s_nSaveLog = 1;
        CUpdaterBase::s_nSavePatchLog = 1;
    }

    static constexpr auto Write = varntest::TempDir::WriteFile;
    static constexpr auto Read = varntest::TempDir::ReadFile;
    static std::string ReadAll(const std::string& dir) {
        std::string all;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec))
            all += Read(e.path().string());
        return all;
    }
    std::string UpdateLogText() const { return ReadAll(Path("Update/Log")); }
    std::string UserLogText() const { return ReadAll(Path("Log")); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
            ++n;
        return n;
    }

    std::unique_ptr<varntest::TempDir> m_tmp;
    std::string m_dir;
};
