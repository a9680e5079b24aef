#include "tools/update-mirror/MirrorServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

MirrorServer::MirrorServer(const UpdateMirror& mirror, MirrorServerSettings settings)
    : mirror_(mirror), settings_(std::move(settings)) {
    if (settings_.https) {
        server_ = std::make_unique<httplib::SSLServer>(settings_.cert.c_str(), settings_.key.c_str());
        if (!server_->is_valid())
            throw std::runtime_error("cannot use certificate " + settings_.cert + " and key " +
                                     settings_.key);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    if (!settings_.log.empty()) {
        log_.open(settings_.log, std::ios::app);
        if (!log_) throw std::runtime_error("cannot open log file " + settings_.log);
    }
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        _logQuery(request.target);
        std::map<std::string, std::string> query;
        for (const auto& [key, value] : request.params) query.emplace(key, value);
        const auto op = query.find("op");
        if (mirror_.Settings().delayMs && mirror_.Faulted(op == query.end() ? "" : op->second)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(mirror_.Settings().delayMs));
        }
        MirrorAnswer answer = mirror_.Respond(query);
        response.status = answer.status;
        const std::optional<size_t> drop = mirror_.Settings().dropAfter;
        if (drop && answer.body.size() > *drop && mirror_.Faulted(op == query.end() ? "" : op->second)) {
            // The length announced is the whole body's; the connection ends early.
            auto body = std::make_shared<std::string>(std::move(answer.body));
            response.set_content_provider(
                body->size(), "text/plain",
                [body, drop](size_t offset, size_t length, httplib::DataSink& sink) {
                    if (offset >= *drop) return false;
                    return sink.write(body->data() + offset, std::min(length, *drop - offset));
                });
            return;
        }
        response.set_content(std::move(answer.body), "text/plain");
    });
}

MirrorServer::~MirrorServer() = default;

void MirrorServer::_logQuery(const std::string& target) {
    if (!log_.is_open()) return;
    const size_t mark = target.find('?');
    std::lock_guard<std::mutex> lock(logMutex_);
    log_ << (mark == std::string::npos ? std::string() : target.substr(mark + 1)) << std::endl;
}

int MirrorServer::Bind() {
    if (settings_.port == 0) return server_->bind_to_any_port(settings_.bind);
    return server_->bind_to_port(settings_.bind, settings_.port) ? settings_.port : -1;
}

bool MirrorServer::Run() { return server_->listen_after_bind(); }

void MirrorServer::Stop() { server_->stop(); }
