// What the launcher and varn-patch read from version.ini beside them: the
// patch server ([PATH] PatchRoot) and the deployment's web pages ([URL]).
#pragma once
#include <string>

#include "host/PatchRoot.h"

constexpr const char* kDefaultHomePage = "https://www.varn-online.jp/";
constexpr const char* kDefaultFaqPage = "https://secure.varn-online.jp/member/faq/index.asp";

// version.ini in the directory of the running executable.
std::string VersionIniPath();

// [PATH] PatchRoot of the file, parsed by ParsePatchRoot ("" when missing).
PatchRoot ReadPatchRoot(const std::string& versionIni);

// The pages the home-page and FAQ buttons open.
struct DeploymentUrls {
    std::string homePage;
    std::string faq;
};
// [URL] HomePage and FAQ of the file. A value is taken only when it is an
// http:// or https:// address with a host and no blanks or control
// characters (it is handed to the desktop's opener, which would also open
// local files and other schemes); otherwise the built-in page is used.
DeploymentUrls ReadDeploymentUrls(const std::string& versionIni);

// The host of an http:// or https:// address, lower-cased, without port or
// user; "" for anything else.
std::string UrlHost(const std::string& url);
