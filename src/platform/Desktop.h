// The user's desktop session: handing web pages and folders to the
// desktop's opener, and the signals with which the session asks a program
// to end.
#pragma once
#include <string>
#include <vector>

namespace plat {

// Opens an http:// or https:// address in the user's web browser through
// the desktop's opener (xdg-open, started without a shell; its exit is
// collected in the background). False (last error set) when the opener
// cannot be started; the page itself may still fail to show. Anything but
// a web address is refused (last error 87): the opener would also run
// local files and other schemes.
bool OpenInBrowser(const std::string& url);
// Opens a directory (an absolute path) in the user's file manager the same
// way. False (last error set) when it is not an absolute path or the
// opener cannot be started.
bool OpenFolder(const std::string& path);

// The signals with which a session or a user asks a program to end
// (terminate, interrupt, hang-up); a window hooks them into its own loop
// and closes the way its close button does.
std::vector<int> CloseRequestSignals();

}  // namespace plat
