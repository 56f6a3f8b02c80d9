// An HTTP/1.x answer as received whole: the status, the headers a client of
// a plain GET needs, and the body.
#pragma once

#include <string>

struct THttpResponse {
    // 0 when the answer does not start with an HTTP status line.
    int Status = 0;
    // The status line, for people ("HTTP/1.1 404 Not Found").
    std::string StatusLine;
    std::string Location;
    std::string ContentType;
    std::string Body;
    // False when the header never ended or a Content-Length promised more
    // than arrived: the connection was cut.
    bool Complete = false;
};

THttpResponse ParseHttpResponse(const std::string& raw);
