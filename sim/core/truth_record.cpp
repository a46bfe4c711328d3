#include "sim/core/truth_record.h"

namespace velmar::sim {

namespace {

const char* KindName(TruthKind k) {
    switch (k) {
    case TruthKind::Frame:
        return "frame";
    case TruthKind::Reply:
        return "reply";
    case TruthKind::Action:
        return "action";
    case TruthKind::Write:
        return "write";
    }
    return "?";
}

const char* RequestName(RequestKind k) {
    switch (k) {
    case RequestKind::Poll:
        return "poll";
    case RequestKind::Ident:
        return "ident";
    case RequestKind::Read:
        return "read";
    case RequestKind::Write:
        return "write";
    }
    return "?";
}

const char* ActionName(TruthAction a) {
    switch (a) {
    case TruthAction::None:
        return "none";
    case TruthAction::Restart:
        return "restart";
    case TruthAction::PulseSimulator:
        return "pulse-simulator";
    case TruthAction::DisplayMode:
        return "display-mode";
    case TruthAction::RelayTest:
        return "relay-test";
    }
    return "?";
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 0x0F]);
    }
    return s;
}

} // namespace

std::string ToJsonLine(const TruthEvent& e) {
    std::string s = "{\"kind\":\"" + std::string(KindName(e.kind)) +
                    "\",\"ns\":" + std::to_string(e.atNs) + ",\"unit\":" + std::to_string(e.unit) +
                    ",\"number\":" + std::to_string(e.number);
    switch (e.kind) {
    case TruthKind::Frame:
        s += ",\"request\":\"" + std::string(RequestName(e.request)) +
             "\",\"line\":" + std::to_string(e.lineAddress) +
             ",\"space\":" + std::to_string(e.space) + ",\"address\":" + std::to_string(e.address) +
             ",\"bytes\":\"" + Hex(e.bytes) + "\"";
        break;
    case TruthKind::Reply:
        s += ",\"sent\":" + std::string(e.sent ? "true" : "false") + ",\"bytes\":\"" +
             Hex(e.bytes) + "\"";
        break;
    case TruthKind::Action:
        s += ",\"action\":\"" + std::string(ActionName(e.action)) +
             "\",\"value\":" + std::to_string(e.value);
        break;
    case TruthKind::Write:
        s += ",\"space\":" + std::to_string(e.space) + ",\"address\":" + std::to_string(e.address) +
             ",\"before\":\"" + Hex(e.before) + "\",\"after\":\"" + Hex(e.bytes) + "\"";
        break;
    }
    return s + "}";
}

void TruthRecord::StreamTo(std::FILE* out) {
    std::lock_guard lock(mutex_);
    out_ = out;
}

void TruthRecord::OnWrite(std::function<void(const TruthEvent&)> hook) {
    std::lock_guard lock(mutex_);
    onWrite_ = std::move(hook);
}

void TruthRecord::Add(TruthEvent e) {
    std::function<void(const TruthEvent&)> hook;
    {
        std::lock_guard lock(mutex_);
        if (out_ != nullptr) {
            const std::string line = ToJsonLine(e) + "\n";
            std::fputs(line.c_str(), out_);
            std::fflush(out_);
        }
        if (e.kind == TruthKind::Write) hook = onWrite_;
        if (out_ == nullptr) events_.push_back(e); // a stream is not kept twice
    }
    // Outside the lock: the hook may look at the record itself.
    if (hook) hook(e);
}

std::vector<TruthEvent> TruthRecord::Snapshot() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void TruthRecord::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

} // namespace velmar::sim
