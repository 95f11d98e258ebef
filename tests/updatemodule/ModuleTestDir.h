// Per-test sandbox for the update module: a fresh directory that becomes
// the current directory and $TMPDIR (so the private temp dir and the type
// file's plain copy land inside it), with the class-wide logger state reset
// and g_UpdateLogger pointed at it. Everything is removed afterwards.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdateModule.h"
#include "updatemodule/UpdaterBase.h"

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* outer = getenv("TMPDIR");
        m_outerTmp = outer ? outer : "";
        std::string tmpl = (std::filesystem::temp_directory_path() / "varn-module-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
        ASSERT_EQ(chdir(m_dir.c_str()), 0);
        setenv("TMPDIR", m_dir.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        CUpdaterBase::ResetSharedStateForTests();
        g_UpdateLogger.SetBaseDirectory(m_dir.c_str());
        g_UpdateLogger.m_nUserLogMode = 0;
        g_LoginFront.SetLoginFront(1);
    }
    void TearDown() override {
        CUpdaterBase::ResetSharedStateForTests();
        chdir("/");
        if (m_outerTmp.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", m_outerTmp.c_str(), 1);
        }
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // Turns the update and patch logs on the way an operator does.
    void EnableLogs() {
        Write(Path("LauncherLog.log"), "");
        CUpdaterBase::s_nSaveLog = 1;
        CUpdaterBase::s_nSavePatchLog = 1;
    }

    static void Write(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Concatenation of every file in a directory ("" when it is missing).
    static std::string ReadAll(const std::string& dir) {
        std::string all;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
            all += Read(e.path().string());
        }
        return all;
    }
    std::string UpdateLogText() const { return ReadAll(Path("Update/Log")); }
    std::string UserLogText() const { return ReadAll(Path("Log")); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) {
            ++n;
        }
        return n;
    }

    std::string m_dir;
    std::string m_outerTmp;
};
