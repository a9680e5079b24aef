#include "server/HTTPRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "common/Log.h"
#include "common/aMemory.h"

namespace {

/* The largest body worth making room for ahead of time, whatever the server
 * announces. */
constexpr curl_off_t kMostReserved = 256 << 20;

/* libcurl's receive buffer for a streamed body. */
constexpr long kStreamBuffer = 512 << 10;

/* Makes room for the announced body at once: a firmware download is tens of
 * megabytes, and growing the text step by step copies and touches several
 * times that. */
void _reserve(CURL* curl, std::string& body) {
    curl_off_t announced = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK ||
        announced <= 0) {
        return;
    }
    try {
        body.reserve(static_cast<size_t>(std::min(announced, kMostReserved)));
        aMemory_AdviseHugePages(body.data(), body.capacity());
    } catch (const std::bad_alloc&) {
        // Growing as the bytes arrive still works.
    }
}

}  // namespace

// Only a 200 body goes to the sink, so that every other one can be logged.
bool HTTPResponse::Streams() {
    if (body_ == Body::Undecided) {
        CURL* curl = static_cast<CURL*>(transfer_);
        long status = 0;
        const bool ok = sink_ && curl &&
                        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
        body_ = ok ? Body::Streamed : Body::Kept;
        curl_off_t announced = -1;
        if (ok && curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced >= 0) {
            sink_->Expect(static_cast<uint64_t>(announced));
        }
    }
    return body_ == Body::Streamed;
}

size_t _rcv_data(char* data, size_t size, size_t count, void* response) {
    HTTPResponse* target = static_cast<HTTPResponse*>(response);
    const size_t length = size * count;
    // The chunk is not terminated: never let the log read past it.
    const int shown = static_cast<int>(std::min<size_t>(length, 100));
    Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", static_cast<int>(size),
             static_cast<int>(count), static_cast<unsigned>(reinterpret_cast<uintptr_t>(target)), shown,
             data);
    size_t taken = length;
    try {
        if (target->Streams()) {
            target->sink_->Take(data, length);
        } else {
            if (target->transfer_ && target->response_.empty())
                _reserve(static_cast<CURL*>(target->transfer_), target->response_);
            target->append(data, length);
        }
    } catch (...) {
        // Never through libcurl's C frames: refusing the bytes ends the transfer with an error.
        taken = 0;
    }
    Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(taken));
    return taken;
}

std::string HTTPRequest::BuildUrl(const std::string& url, const Parameters& parameters) {
    std::string full = url;
    if (!parameters.empty()) full += '?';
    for (const auto& [key, value] : parameters) {
        full += key;
        full += '=';
        full += value;
        full += '&';
    }
    return full;
}

namespace {

/* Sets the options in order and stops at the first one libcurl rejects. */
CURLcode _configure(CURL* curl, HTTPResponse& response, bool streamed) {
    CURLcode rc = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, _rcv_data);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_URL, response.get_request().c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const char* bundle = getenv("CURL_CA_BUNDLE");
    if (bundle && *bundle) {
        // A site that names its own CA bundle asks for the whole chain to be checked.
        if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
    } else {
        if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    }
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYSTATUS, 0L);
    // A streamed body is large: fewer, larger reads keep the receiving thread
    // ahead of the sender instead of waking it for every 16 KiB.
    if (rc == CURLE_OK && streamed) rc = curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kStreamBuffer);
    return rc;
}

}  // namespace

HTTPResponse HTTPRequest::GET(const std::string& url, const Parameters& parameters) {
    return _perform(HTTPResponse(BuildUrl(url, parameters)));
}

HTTPResponse HTTPRequest::GET(const std::string& url, const Parameters& parameters, HTTPBodySink& sink) {
    HTTPResponse response(BuildUrl(url, parameters));
    response.sink_ = &sink;
    return _perform(std::move(response));
}

HTTPResponse HTTPRequest::_perform(HTTPResponse response) {
    CURL* curl = curl_easy_init();
    if (!curl) throw std::runtime_error("Could not create curl instance");

    response.transfer_ = curl;
    CURLcode rc = _configure(curl, response, response.sink_ != nullptr);
    if (rc == CURLE_OK) {
        Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
        rc = curl_easy_perform(curl);
    }
    long status = 0;
    if (rc == CURLE_OK) rc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.transfer_ = nullptr;
    response.sink_ = nullptr;
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) throw std::runtime_error(curl_easy_strerror(rc));
    response.set_status(status);
    return response;
}
