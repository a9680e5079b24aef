/*
 * Certificates.h - TLS material for HTTPS tests, made with the openssl
 * command in a folder of the test's: a self-signed certificate naming
 * 127.0.0.1 and localhost ("self"), one naming another host ("other"), two
 * certificate authorities ("ca", "otherca") and a certificate for
 * 127.0.0.1/localhost signed by "ca" ("signed"). Each NAME has NAME.pem and
 * NAME.key.
 */
#pragma once

#include <optional>
#include <string>

namespace qctest {

class Certificates {
public:
    /* Makes everything in folder; ok() tells whether openssl succeeded. */
    explicit Certificates(const std::string& folder);
    bool ok() const { return ok_; }
    std::string pem(const std::string& name) const { return folder_ + "/" + name + ".pem"; }
    std::string key(const std::string& name) const { return folder_ + "/" + name + ".key"; }

private:
    bool Run(const std::string& command);
    bool SelfSigned(const std::string& name, const std::string& subject, const std::string& altNames);

    std::string folder_;
    bool ok_ = true;
};

/* Sets (or with nullopt removes) an environment variable for a scope. */
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace qctest
