// How the answers to one request go on the line: colliding replies, the faults a test injects,
// the noise of a noisy line, the controllers' turnaround, replies in pieces, line-time pacing,
// and a restart once its reply has left.
#include "sim/core/bus_simulator_impl.h"

#include <algorithm>

namespace velmar::sim {

namespace {

constexpr uint8_t kStrayByte = 0x55;
constexpr uint8_t kRestartRefusedStatus = 0x02;

} // namespace

// Puts the answers to one request on the line: several at once collide.
void BusSimulator::Impl::Answer(std::vector<std::pair<Controller*, Reply>>& answers,
                                SimClock::time_point at) {
    for (auto& [c, reply] : answers) {
        if (!reply.restart || faults.refuseRestart == 0 ||
            (faults.refuseRestartController >= 0 && !c->AnswersAt(faults.refuseRestartController)))
            continue;
        if (faults.refuseRestart > 0) --faults.refuseRestart;
        reply.restart = false;
        reply.bytes.back() = kRestartRefusedStatus;
    }
    std::vector<uint8_t> bytes = answers.front().second.bytes;
    if (answers.size() > 1) {
        ++collisions;
        for (size_t i = 1; i < answers.size(); ++i) {
            const auto& other = answers[i].second.bytes;
            if (other.size() > bytes.size()) bytes.resize(other.size(), 0xFF);
            for (size_t k = 0; k < other.size(); ++k) bytes[k] &= other[k];
        }
    }

    bool send = true;
    const bool restarts =
        std::any_of(answers.begin(), answers.end(), [](const auto& a) { return a.second.restart; });
    if (restarts && faults.loseRestartStatus != 0) {
        if (faults.loseRestartStatus > 0) --faults.loseRestartStatus;
        send = false;
    }
    if (send && faults.dropReplies > 0) {
        --faults.dropReplies;
        send = false;
    }
    if (send && faults.corruptReplies > 0 && !bytes.empty()) {
        --faults.corruptReplies;
        // Not the same pattern twice: the checksum is linear, so flipping the first byte and
        // the checksum byte alike would keep a poll reply valid.
        bytes.front() ^= 0xFF;
        bytes.back() ^= 0x01;
    }
    if (send && faults.truncateReplies > 0 && !bytes.empty()) {
        --faults.truncateReplies;
        bytes.pop_back();
    }
    if (send)
        bytes.insert(bytes.end(), static_cast<size_t>(std::max(0, faults.extraReplyBytes)),
                     kStrayByte);
    if (send && !bytes.empty()) send = AddNoise(bytes);

    // Colliding controllers: the slowest one's reply ends the exchange.
    int turnaroundMs = 0;
    for (const auto& answer : answers)
        turnaroundMs = std::max(turnaroundMs, answer.first->turnaroundMs);
    at += std::chrono::milliseconds(turnaroundMs);
    SimClock::time_point end = at;
    if (send && !bytes.empty()) {
        ++repliesSent;
        // Replies in pieces: a pause before the first byte of each piece but the first.
        const size_t pieces = faults.replyPieces >= 2 ? static_cast<size_t>(faults.replyPieces) : 1;
        const size_t pieceLength = (bytes.size() + pieces - 1) / pieces;
        const auto gap = std::chrono::milliseconds(std::max(0, faults.replyPieceGapMs));
        auto pauseBefore = [&](size_t i) { return gap * static_cast<long>(i / pieceLength); };
        if (byteTime.count() == 0) {
            // Replies leave in the order they began, whatever each controller's turnaround.
            if (!output.empty()) at = std::max(at, output.back().due);
            for (size_t i = 0; i < bytes.size(); ++i)
                output.push_back({at + pauseBefore(i), bytes[i]});
            end = at + pauseBefore(bytes.size() - 1);
        } else {
            const auto start = std::max(at, txFree);
            for (size_t i = 0; i < bytes.size(); ++i)
                output.push_back(
                    {start + byteTime * static_cast<long>(i + 1) + pauseBefore(i), bytes[i]});
            end = txFree =
                start + byteTime * static_cast<long>(bytes.size()) + pauseBefore(bytes.size() - 1);
        }
    }
    // A restart takes effect once the reply has left (or would have, had it not been lost).
    for (auto& [c, reply] : answers) {
        if (!reply.restart) continue;
        c->Restart();
        c->deafUntilNs_ = ToNs(end + std::chrono::milliseconds(faults.deafAfterRestartMs));
    }
}

// The random faults of a noisy line; each kind is drawn on its own, so several may hit one reply.
bool BusSimulator::Impl::AddNoise(std::vector<uint8_t>& bytes) {
    if (faults.flipRate <= 0 && faults.lossRate <= 0 && faults.cutRate <= 0 && faults.addRate <= 0)
        return true;
    if (noiseSeed != faults.noiseSeed) {
        noise.seed(faults.noiseSeed);
        noiseSeed = faults.noiseSeed;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(noise); };
    const bool lose = chance(noise) < faults.lossRate;
    const bool cut = chance(noise) < faults.cutRate;
    const bool flip = chance(noise) < faults.flipRate;
    const bool add = chance(noise) < faults.addRate;
    if (lose || cut || flip || add) ++noisyReplies;
    if (lose) return false;
    if (cut) bytes.pop_back();
    if (flip && !bytes.empty()) bytes[below(bytes.size())] ^= static_cast<uint8_t>(1u << below(8));
    if (add) {
        const auto at = static_cast<std::ptrdiff_t>(below(bytes.size() + 1));
        bytes.insert(bytes.begin() + at, static_cast<uint8_t>(below(256)));
    }
    return !bytes.empty();
}

} // namespace velmar::sim
