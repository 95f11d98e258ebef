// Server faults that nginx cannot be made to show, from a scripted server,
// and the reading of reply headers.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Thread.h"
#include "support/FakeServer.h"
#include "transfer/HTTPUpdater.h"
#include "transfer/HttpReplyHeader.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;
using varntest::FakeServer;

namespace {

std::string Head(size_t length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

TEST(HttpFaults, BrokenRepliesFailWithoutHanging) {
    struct Fault {
        const char* what;
        std::string reply;   // sent after the request
        bool thenWait;       // then stay silent until the client gives up
        uint32_t error;      // recorded error number
        size_t localSize;    // bytes left in the local file
        bool startNotified;  // the download start was announced
    } const faults[] = {
        {"connection dropped mid-body", Head(10000) + std::string(5000, 'x'), false, 12030, 5000,
         true},
        {"silent after the request", "", true, 12002, 0, false},
        {"no content length", "HTTP/1.0 200 OK\r\n\r\nbody without length", false, 12150, 0, false},
        {"not an HTTP reply", "421 Service not available, closing control connection.\r\n", false,
         12152, 0, false},
        {"closed without a reply", "", false, 12030, 0, false}};
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        Recorder rec;
        TempDir tmp;
        FakeServer server([&](FakeServer::Connection& c) {
            c.ReadRequest();
            c.Send(f.reply);
            if (f.thenWait)
                c.WaitForClose();
        });
        CHTTPUpdater http;
        http.SetTimeouts(5, 1);
        ASSERT_EQ(http.ConnectTo("127.0.0.1", server.port(), nullptr, nullptr), 1);
        InstallStopEvent(http);
        std::string local = tmp / "update.uvf";
        EXPECT_EQ(http.DownloadFile("update.uvf", local.c_str()), 0);
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_SYSTEM);
        EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), static_cast<int>(f.error));
        EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END), 0);
        EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_START), f.startNotified ? 1 : 0);
        EXPECT_EQ(ReadFile(local).size(), f.localSize);
    }
}

TEST(HttpFaults, RequestAsksForAFreshCopy) {
    std::string request;
    FakeServer server([&](FakeServer::Connection& c) {
        request = c.ReadRequest();
        c.Send(Head(2) + "ok");
    });
    Recorder rec;
    TempDir tmp;
    CHTTPUpdater http;
    http.SetConnectInfo("127.0.0.1", server.port(), "user", "secret", "a b", nullptr,
                        LAUNCHER_TYPE_SERVICE);
    ASSERT_EQ(http.Connect(), 1);
    InstallStopEvent(http);
    ASSERT_EQ(http.DownloadFile("x#y?.uvf", (tmp / "x").c_str()), 1);
    EXPECT_EQ(request.rfind("GET /a%20b/x%23y%3F.uvf HTTP/1.1\r\n", 0), 0u) << request;
    for (const char* header :
         {"Cache-Control: no-cache\r\n", "Pragma: no-cache\r\n", "User-Agent: UPDATE_HTTP\r\n",
          "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"})
        EXPECT_NE(request.find(header), std::string::npos) << header;
}

// A download held by a suspension outlives a server that drops the idle
// connection meanwhile: resumed, it asks for exactly the missing bytes of the
// same file, and takes nothing else.
TEST(HttpFaults, HeldDownloadAsksForTheRestOfADroppedConnection) {
    const std::string body = Pattern(100000);
    const size_t sent = 30000;  // before the server gave up on the held reader
    for (const bool serverHonoursRange : {true, false}) {
        SCOPED_TRACE(serverHonoursRange ? "rest sent" : "whole file sent again");
        Recorder rec;
        TempDir tmp;
        std::mutex lock;
        std::vector<std::string> requests;
        FakeServer server([&](FakeServer::Connection& c) {
            std::string request = c.ReadRequest();
            if (request.empty())  // Connect's probe
                return;
            std::unique_lock<std::mutex> hold(lock);
            requests.push_back(request);
            const size_t n = requests.size();
            hold.unlock();
            if (n == 1)  // then the connection is closed
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nETag: \"v1\"\r\n\r\n" +
                       body.substr(0, sent));
            else if (serverHonoursRange)
                c.Send(
                    "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 30000-99999/100000\r\n"
                    "Content-Length: 70000\r\n\r\n" +
                    body.substr(sent));
            else
                c.Send(Head(body.size()) + body);
        });
        CHTTPUpdater http;
        ASSERT_EQ(http.ConnectTo("127.0.0.1", server.port(), nullptr, nullptr), 1);
        InstallStopEvent(http);
        const std::string local = tmp / "big.lbc";
        // The download's own thread is suspended at its first block, so it
        // is held before it has read the rest of what the server sent.
        std::atomic<int> result{-1};
        std::atomic<bool> held{false};
        plat::ThreadHandle worker = plat::CreateThread(
            [&] {
                return static_cast<unsigned>(result = http.DownloadFile("big.lbc", local.c_str()));
            },
            true, nullptr);
        ASSERT_TRUE(worker);
        rec.onNote = [&](const Note& n) {
            if (n.code == NOTIFY_DOWNLOAD_PROGRESS && !held.exchange(true))
                plat::SuspendThread(worker);
        };
        plat::ResumeThread(worker);
        for (int i = 0; i < 1000 && !held; ++i)
            plat::Sleep(10);
        ASSERT_TRUE(held);
        plat::ResumeThread(worker);
        ASSERT_TRUE(plat::WaitForThread(worker, 30000));

        std::lock_guard<std::mutex> hold(lock);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_NE(requests[1].find("\r\nRange: bytes=30000-\r\n"), std::string::npos)
            << requests[1];
        EXPECT_NE(requests[1].find("\r\nIf-Range: \"v1\"\r\n"), std::string::npos) << requests[1];
        EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_START), 1);
        if (serverHonoursRange) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(ReadFile(local) == body);
            EXPECT_EQ(rec.notes.back().code, NOTIFY_DOWNLOAD_END);
            EXPECT_EQ(rec.notes.back().fileReceived, body.size());
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 12030);
            EXPECT_EQ(ReadFile(local).size(), sent);
            EXPECT_EQ(rec.Count(NOTIFY_DOWNLOAD_END), 0);
        }
    }
}

CHttpReplyHeader::LineResult FeedAll(CHttpReplyHeader& h, const std::string& text) {
    CHttpReplyHeader::LineResult last = CHttpReplyHeader::LINE_MORE;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        last = h.Feed(text.data() + at, end - at + 1);
    }
    return last;
}

TEST(HttpReplyHeader, FinalReplyDecides) {
    const struct {
        const char* what;
        const char* text;  // up to and including the final blank line
        int status;
        int64_t length;  // -1: none usable
    } cases[] = {
        {"case and blanks", "HTTP/1.1 200 OK\r\ncontent-length:\t 7 \r\n\r\n", 200, 7},
        {"interim first",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", 200, 3},
        {"followed redirect",
         "HTTP/1.1 301 Moved\r\nLocation: /x\r\nContent-Length: 170\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
         200, -1},
        {"redirect without location is final", "HTTP/1.1 302 Found\r\n\r\n", 302, -1},
        {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", 200, -1},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
         200, -1},
        {"repeated equal lengths",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", 200, 5},
        {"garbage status", "HTTP/1.1 2x0 OK\r\n\r\n", 0, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHttpReplyHeader h;
        EXPECT_EQ(FeedAll(h, c.text), CHttpReplyHeader::LINE_FINAL);
        EXPECT_EQ(h.Status(), c.status);
        EXPECT_EQ(h.HasLength(), c.length >= 0);
        if (c.length >= 0) {
            EXPECT_EQ(h.Length(), static_cast<uint64_t>(c.length));
        }
    }
    CHttpReplyHeader h;
    FeedAll(h, "HTTP/1.0 500 Internal Server Error\r\n");
    EXPECT_EQ(h.StatusLine(), "HTTP/1.0 500 Internal Server Error");
}

}  // namespace
