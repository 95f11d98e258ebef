#include "transfer/HttpReplyHeader.h"

#include <gtest/gtest.h>

#include <cstring>

#include <vector>

namespace {

struct Case {
    const char* what;
    std::vector<const char*> lines;  // up to and including the final blank line
    int status;
    bool hasLength;
    uint64_t length;
};

TEST(HttpReplyHeader, FinalReplyDecides) {
    const Case cases[] = {
        {"plain", {"HTTP/1.1 200 OK\r\n", "Content-Length: 42\r\n", "\r\n"}, 200, true, 42},
        {"case and blanks",
         {"HTTP/1.1 200 OK\r\n", "content-length:\t 7 \r\n", "\r\n"},
         200,
         true,
         7},
        {"interim first",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "Content-Length: 3\r\n",
          "\r\n"},
         200,
         true,
         3},
        {"followed redirect",
         {"HTTP/1.1 301 Moved\r\n", "Location: /x\r\n", "Content-Length: 170\r\n", "\r\n",
          "HTTP/1.1 200 OK\r\n", "\r\n"},
         200,
         false,
         0},
        {"redirect without location is final", {"HTTP/1.1 302 Found\r\n", "\r\n"}, 302, false, 0},
        {"negative length",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: -1\r\n", "\r\n"},
         200,
         false,
         0},
        {"huge length",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 99999999999999999999\r\n", "\r\n"},
         200,
         false,
         0},
        {"conflicting lengths",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Content-Length: 6\r\n", "\r\n"},
         200,
         false,
         0},
        {"repeated equal lengths",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Content-Length: 5\r\n", "\r\n"},
         200,
         true,
         5},
        {"garbage status", {"HTTP/1.1 2x0 OK\r\n", "\r\n"}, 0, false, 0},
        {"error page",
         {"HTTP/1.1 404 Not Found\r\n", "Content-Length: 153\r\n", "\r\n"},
         404,
         true,
         153},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHttpReplyHeader h;
        CHttpReplyHeader::LineResult last = CHttpReplyHeader::LINE_MORE;
        for (const char* line : c.lines)
            last = h.Feed(line, std::strlen(line));
        EXPECT_EQ(last, CHttpReplyHeader::LINE_FINAL);
        EXPECT_EQ(h.Status(), c.status);
        EXPECT_EQ(h.HasLength(), c.hasLength);
        if (c.hasLength) {
            EXPECT_EQ(h.Length(), c.length);
        }
    }
}

TEST(HttpReplyHeader, StatusLineKeptWithoutLineBreak) {
    CHttpReplyHeader h;
    const char line[] = "HTTP/1.0 500 Internal Server Error\r\n";
    h.Feed(line, sizeof line - 1);
    EXPECT_EQ(h.StatusLine(), "HTTP/1.0 500 Internal Server Error");
}

}  // namespace
