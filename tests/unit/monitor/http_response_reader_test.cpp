// The response reader: framing, bounds and failures, fed whole and byte by byte.
#include "monitor/http_response_reader.h"

#include <gtest/gtest.h>

#include <string>

using http::ResponseReader;
using platform::DownloadFailure;
using State = ResponseReader::State;

namespace {

constexpr std::size_t kBody = 64;

struct Answer {
    const char* name;
    std::string bytes;
    bool closed; // the peer closes after the bytes
    State state;
    DownloadFailure failure;
    int status;
    std::string body;
};

const std::string kOk = "HTTP/1.1 200 OK\r\n";

const Answer kAnswers[] = {
    {"sized, more bytes after it", kOk + "Content-Length: 5\r\n\r\n12345garbage", false,
     State::Complete, DownloadFailure::None, 200, "12345"},
    {"sized, still open", kOk + "Content-Length: 5\r\n\r\n123", false, State::NeedMore,
     DownloadFailure::None, 200, "123"},
    {"shorter than its length", kOk + "Content-Length: 5\r\n\r\n123", true, State::Failed,
     DownloadFailure::Truncated, 200, "123"},
    {"empty with length 0, still open", kOk + "Content-Length: 0\r\n\r\n", false, State::Complete,
     DownloadFailure::None, 200, ""},
    {"chunked with extension and trailer",
     kOk + "Transfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n"
           "5\r\n203.0\r\n8;x=y\r\n.113.7\r\n\r\n0\r\nX-T: 1\r\n\r\nafter",
     false, State::Complete, DownloadFailure::None, 200, "203.0.113.7\r\n"},
    {"chunked, last chunk then close", kOk + "Transfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n",
     true, State::Complete, DownloadFailure::None, 200, "a"},
    {"chunked, cut inside a chunk", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", true,
     State::Failed, DownloadFailure::Truncated, 200, "ab"},
    {"chunked, bad size", kOk + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", false, State::Failed,
     DownloadFailure::Malformed, 200, ""},
    {"chunked, data longer than its size",
     kOk + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n", false, State::Failed,
     DownloadFailure::Malformed, 200, "a"},
    {"chunked past the bound",
     kOk + "Transfer-Encoding: chunked\r\n\r\n40\r\n" + std::string(64, 'a') + "\r\n1\r\n", false,
     State::Failed, DownloadFailure::TooLarge, 200, std::string(64, 'a')},
    {"until close", "HTTP/1.0 200 OK\r\n\r\nab\r\ncd", true, State::Complete, DownloadFailure::None,
     200, "ab\r\ncd"},
    {"until close, past the bound", "HTTP/1.0 200 OK\r\n\r\n" + std::string(65, 'a'), false,
     State::Failed, DownloadFailure::TooLarge, 200, ""},
    {"at the bound", kOk + "Content-Length: 64\r\n\r\n" + std::string(64, 'a'), false,
     State::Complete, DownloadFailure::None, 200, std::string(64, 'a')},
    {"declared past the bound", kOk + "Content-Length: 65\r\n\r\n", false, State::Failed,
     DownloadFailure::TooLarge, 200, ""},
    {"head past its bound", kOk + "X: " + std::string(16 * 1024, 'h'), false, State::Failed,
     DownloadFailure::TooLarge, 0, ""},
    {"differing lengths", kOk + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab", false,
     State::Failed, DownloadFailure::Malformed, 200, ""},
    {"error status keeps its body", "HTTP/1.1 500 Oops\r\nContent-Length: 4\r\n\r\nbusy", false,
     State::Complete, DownloadFailure::None, 500, "busy"},
    {"interim answer skipped", "HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 1\r\n\r\nz",
     false, State::Complete, DownloadFailure::None, 200, "z"},
    {"interim answers without end",
     [] {
         std::string many;
         for (int i = 0; i < 1000; ++i) {
             many += "HTTP/1.1 100 Continue\r\n\r\n";
         }
         return many;
     }(),
     false, State::Failed, DownloadFailure::TooLarge, 100, ""},
    {"no body for 304", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", false,
     State::Complete, DownloadFailure::None, 304, ""},
    {"not HTTP", "SSH-2.0-x\r\n\r\n", false, State::Failed, DownloadFailure::Malformed, 0, ""},
    // Read as one line here, two lines elsewhere: a header hidden behind a lone LF or CR would
    // mean something else to the next reader, so neither is taken.
    {"lone LF in the head", kOk + "X-A: 1\nContent-Length: 1\r\n\r\nz", false, State::Failed,
     DownloadFailure::Malformed, 0, ""},
    {"lone CR in the head", kOk + "Location: /a\r/b\r\n\r\n", false, State::Failed,
     DownloadFailure::Malformed, 0, ""},
    {"nothing, then closed", "", true, State::Failed, DownloadFailure::Truncated, 0, ""},
    {"head cut short", "HTTP/1.1 200 OK\r\nContent-", true, State::Failed,
     DownloadFailure::Truncated, 0, ""},
};

void Expect(ResponseReader& reader, const Answer& a, const char* how) {
    const State state = a.closed ? reader.PeerClosed() : reader.Current();
    EXPECT_EQ(state, a.state) << a.name << how;
    EXPECT_EQ(reader.Failure(), a.failure) << a.name << how;
    EXPECT_EQ(reader.Status(), a.status) << a.name << how;
    if (a.failure != DownloadFailure::TooLarge) {
        EXPECT_EQ(reader.Body(), a.body) << a.name << how;
    }
}

} // namespace

TEST(ResponseReader, AnswersWholeAndByteByByte) {
    for (const Answer& a : kAnswers) {
        ResponseReader whole(kBody);
        whole.Feed(a.bytes);
        Expect(whole, a, " (whole)");

        ResponseReader bytewise(kBody);
        for (const char c : a.bytes) {
            bytewise.Feed(std::string_view(&c, 1));
        }
        Expect(bytewise, a, " (byte by byte)");
    }
}

TEST(ResponseReader, RedirectIsKnownOnceTheHeadIsRead) {
    ResponseReader reader(kBody);
    reader.Feed("HTTP/1.1 302 Found\r\nLocation:  /next \r\n");
    EXPECT_FALSE(reader.HeadDone());
    EXPECT_EQ(reader.Feed("\r\n"), State::NeedMore); // the body runs until the close
    EXPECT_TRUE(reader.HeadDone());
    EXPECT_EQ(reader.Status(), 302);
    EXPECT_EQ(reader.Location(), "/next");
}
