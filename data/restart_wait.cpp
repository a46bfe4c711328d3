#include "data/restart_wait.h"

#include <chrono>
#include <mutex>
#include <string>
#include <utility>

namespace velmar {

namespace {

constexpr int kMsPerSecond = 1000;

std::mutex noticeMutex;
RestartNotice& Notice() {
    static RestartNotice notice;
    return notice;
}

} // namespace

void SetRestartNotice(RestartNotice notice) {
    const std::lock_guard lock(noticeMutex);
    Notice() = std::move(notice);
}

void NoteRestartWait() {
    static const std::string text =
        "Ответ на команду рестарта потерян; ожидание ответа контроллера (до " +
        std::to_string(kSlowestRestartMs / kMsPerSecond) + " с)";
    const std::lock_guard lock(noticeMutex);
    if (Notice()) Notice()(text.c_str());
}

bool AwaitRestarted(RecordStore& store, int budgetMs) {
    // Each AwaitAnswer polls for its own bounded while; they follow one another until the
    // controller answers or the budget is spent.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    do {
        if (store.AwaitAnswer().Ok()) return true;
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

RestartResult RestartConfirmed(RecordStore& store) {
    const StoreResult sent = store.Restart();
    if (sent.Ok()) return RestartResult::Ready;
    if (sent.Code() == StoreCode::Declined) return RestartResult::Refused;
    if (store.IsDemo()) return RestartResult::Failed;
    NoteRestartWait();
    return AwaitRestarted(store) ? RestartResult::Ready : RestartResult::NoAnswer;
}

RestartResult RestartAndAwait(RecordStore& store) {
    const RestartResult restart = RestartConfirmed(store);
    if (restart != RestartResult::Ready) return restart;
    return AwaitRestarted(store) ? RestartResult::Ready : RestartResult::NoAnswer;
}

} // namespace velmar
