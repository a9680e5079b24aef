/*
 * HTTPRequest.h - one HTTP(S) GET to the update server over libcurl's easy
 * interface. Every call makes and releases its own handle: nothing (cookies,
 * connections) is kept between requests, so threads may call it at once.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

/* Takes the body of a 200 answer piece by piece as libcurl delivers it, so a
 * large body is used while it arrives instead of being kept whole. */
class HTTPBodySink {
public:
    virtual ~HTTPBodySink() = default;
    /* Once, before the first piece, when the server announced the body's
     * length. */
    virtual void Expect(uint64_t length) { (void)length; }
    /* A piece of the body. An exception stops the transfer, which then fails
     * like any other transport error. */
    virtual void Take(const char* data, size_t length) = 0;
};

/* The outcome of one GET: the URL asked for, the HTTP status (0 until the
 * transfer finished) and the body as received. */
class HTTPResponse {
public:
    explicit HTTPResponse(std::string request) : request_(std::move(request)) {}

    const std::string& get_request() const { return request_; }
    int64_t get_status() const { return status_; }
    /* Handed out mutable: the answer parsers consume the body in place, so a
     * response is read once. */
    std::string& get_response() { return response_; }

    void set_status(int64_t status) { status_ = status; }
    void append(const char* data, size_t length) { response_.append(data, length); }

private:
    friend class HTTPRequest;
    friend size_t _rcv_data(char*, size_t, size_t, void*);

    /* Decided at the first piece, when the status is known. */
    bool Streams();

    std::string request_;
    int64_t status_ = 0;
    std::string response_;
    void* transfer_ = nullptr;      // the libcurl handle while GET runs, to size the body once
    HTTPBodySink* sink_ = nullptr;  // takes a 200 body while GET runs
    enum class Body { Undecided, Kept, Streamed } body_ = Body::Undecided;
};

class HTTPRequest {
public:
    using Parameters = std::map<std::string, std::string>;

    /* GET base?k1=v1&k2=v2& (keys ascending, values sent as given, the final
     * "&" kept). Throws std::runtime_error with libcurl's text on any
     * transport failure; an HTTP error status is returned, not thrown. When
     * CURL_CA_BUNDLE names a CA bundle the peer's chain is verified against
     * it; otherwise only the host name in the certificate is checked. */
    static HTTPResponse GET(const std::string& url, const Parameters& parameters);
    /* The same GET, but the body of a status 200 answer goes to sink as it
     * arrives and the response's body stays empty; any other status keeps its
     * body in the response as above. */
    static HTTPResponse GET(const std::string& url, const Parameters& parameters, HTTPBodySink& sink);

    /* The URL that GET requests for these arguments. */
    static std::string BuildUrl(const std::string& url, const Parameters& parameters);

private:
    static HTTPResponse _perform(HTTPResponse response);
};

/* libcurl write callback: appends size * count bytes to the HTTPResponse
 * given as userdata (or hands them to its sink) and takes them all; 0, which
 * stops the transfer, only when they cannot be kept. */
size_t _rcv_data(char* data, size_t size, size_t count, void* response);
