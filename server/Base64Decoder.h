/*
 * Base64Decoder.h - standard Base64 decoded piece by piece as the text
 * arrives, so a download is decoded while it is still being received.
 *
 * Accepts exactly the texts that UpdateServerRequest::base64_decode accepts
 * and yields the same bytes, however the text is cut into pieces: up to three
 * characters of an unfinished quad wait for the next piece, and "=" may stand
 * only in the final quad.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class Base64Decoder {
public:
    /* Receives the decoded bytes in order, a block at a time. */
    using Output = std::function<void(const uint8_t* bytes, size_t length)>;

    explicit Base64Decoder(Output output);
    ~Base64Decoder();
    Base64Decoder(const Base64Decoder&) = delete;
    Base64Decoder& operator=(const Base64Decoder&) = delete;

    /* Decodes what the piece completes. False from the first character that
     * makes the text invalid on; the output is not called again after that,
     * so what it got is only a prefix of something that is no Base64. */
    bool Feed(const char* text, size_t length);
    /* The text has ended: true when all of it was well-formed Base64 whose
     * length is a multiple of 4 (an empty text is). */
    bool Finish();

    bool Failed() const { return failed_; }
    /* Characters fed so far, also those after a failure. */
    size_t TextLength() const { return textLength_; }
    /* Bytes handed to the output so far. */
    size_t DecodedLength() const { return decodedLength_; }

private:
    bool Fail();
    bool DecodeRun(const uint8_t* in, size_t quads);
    void Emit(size_t length);

    Output output_;
    std::unique_ptr<uint8_t[]> block_;  // decoded bytes on their way to the output
    uint8_t carried_[4] = {};
    size_t carriedLength_ = 0;
    bool ended_ = false;  // the padded final quad was decoded: nothing may follow
    bool failed_ = false;
    size_t textLength_ = 0;
    size_t decodedLength_ = 0;
};
