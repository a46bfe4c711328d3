// The search for controllers on a line (velmar-cli scan, and the search step of backup and
// verify). A silent number is passed after a budget fitted to the line instead of the address
// poll's full wait, but the line is still watched for the whole wait: a reply that comes later
// names the controller that sent it, which is then found all the same, and the numbers polled
// while it was on its way are polled again. Every controller that answers within the address
// poll's wait is found; the budget grows to the slowest controller that answered, so that a line
// of slow controllers does not keep falling back.
#pragma once

#include "link/serial_port.h"

#include <chrono>
#include <deque>
#include <vector>

namespace velmar {

enum class SearchAnswer {
    Absent,     // silence for the address poll's whole wait on a working line
    Answered,   // the controller answered its number
    BadReply,   // a reply came, but not as our controllers answer
    NotReached, // the line or the connection failed: nothing is known about the number
};

struct SearchResult {
    int number = 0;
    SearchAnswer answer = SearchAnswer::Absent;
};

// The no-answer budget of a quick search poll before anything was learnt: the poll frame and its
// reply at the port's speed, plus a turnaround allowance; a network port's allowance is added
// when waiting.
int SearchBudgetMs(PortSlot slot);

class AddressSearch {
  public:
    // With `thorough` every number gets the address poll's full wait, one after the other.
    AddressSearch(PortSlot slot, bool thorough);

    // Polls `number` (with the full wait when `full`) and returns the numbers whose answer is
    // settled by now, in the order they were given. A silent number settles once the whole wait
    // of the address poll has passed without a reply naming it.
    std::vector<SearchResult> Poll(int number, bool full = false);
    // Waits until every number given is settled and returns those not returned yet. Call it
    // before anything else is sent on the line: the line is not purged while a number is open.
    std::vector<SearchResult> Settle();

    // True when a number given has a reply settled that is not returned yet (it waits behind
    // numbers still open): a caller that wants to act on it at once calls Settle().
    bool HoldsReply() const;

    // The no-answer budget of a quick poll now: grown to the slowest late reply seen.
    int BudgetMs() const { return budgetMs_; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        int number = 0;
        bool full = false;
        int quickPolls = 0;
        bool open = false; // polled quickly, silent so far, its wait not over
        bool settled = false;
        Clock::time_point sent;
        SearchAnswer answer = SearchAnswer::Absent;
    };

    void Run();
    void QuickPoll(Entry& e);
    void FullPoll(Entry& e);
    SearchAnswer OneFullPoll(int ctrl);
    void TakeBytes(Entry* current);
    void WaitOutOpen();
    void CloseExpired();
    void Learn(Clock::duration turnaround);
    void Repoll(Entry& e);
    Entry* Find(int number);
    std::vector<SearchResult> TakeSettled();
    std::chrono::milliseconds Window() const;

    PortSlot slot_;
    bool thorough_;
    int baseBudgetMs_;
    int budgetMs_;
    std::deque<Entry> entries_; // given and not yet returned, in the order given
    std::deque<int> todo_;      // numbers to poll (again)
};

} // namespace velmar
