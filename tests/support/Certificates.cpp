#include "tests/support/Certificates.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/Process.h"

namespace qctest {

namespace {

const char* const kNewKey = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";

}  // namespace

Certificates::Certificates(const std::string& folder) : folder_(folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    SelfSigned("self", "/CN=localhost", "IP:127.0.0.1,DNS:localhost");
    SelfSigned("other", "/CN=other.example", "DNS:other.example");
    SelfSigned("ca", "/CN=ca", "");
    SelfSigned("otherca", "/CN=otherca", "");
    WriteFile(folder_ + "/signed.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    Run(std::string(kNewKey) + "-subj /CN=localhost -keyout " + key("signed") + " -out " + folder_ +
        "/signed.csr");
    Run("openssl x509 -req -days 2 -in " + folder_ + "/signed.csr -CA " + pem("ca") + " -CAkey " + key("ca") +
        " -CAcreateserial -extfile " + folder_ + "/signed.ext -out " + pem("signed"));
}

bool Certificates::Run(const std::string& command) {
    ok_ = ok_ && system((command + " >/dev/null 2>&1").c_str()) == 0;
    return ok_;
}

bool Certificates::SelfSigned(const std::string& name, const std::string& subject,
                              const std::string& altNames) {
    std::string extension = altNames.empty() ? "" : " -addext subjectAltName=" + altNames;
    return Run(std::string(kNewKey) + "-x509 -days 2 -subj " + subject + extension + " -keyout " + key(name) +
               " -out " + pem(name));
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        setenv(name_, old_->c_str(), 1);
    } else {
        unsetenv(name_);
    }
}

}  // namespace qctest
