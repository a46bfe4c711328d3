// How memory reads stand up to a noisy line: the retry count, the count of retried requests, and
// whether a controller's trailing reply byte is taken as the checksum of the data before it.
//
// Every read reply carries one byte after its data; the controllers put ChecksumRot8 of the data
// there, and a reply whose byte does not match is not taken. A controller whose trailing byte
// means something else is recognised by replies that fail the check yet repeat the same data when
// read again: after kUncheckedStreakLimit such replies in a row (with no reply passing between
// them) the check is switched off for that controller until the address or the port changes.
//
// All of it may be read from the thread that runs the exchanges while the window thread sets the
// retry count or forgets the controller: the count is atomic, the controller state guarded.
#pragma once

#include "link/serial_port.h"

#include <cstdint>

namespace velmar {

inline constexpr int kDefaultReadRetries = 2;
inline constexpr int kMaxReadRetries = 10;
// Replies that failed the check but repeated their data, in a row, before the check goes off.
inline constexpr int kUncheckedStreakLimit = 3;
// Failed replies in a row with the same data before that data is taken unchecked.
inline constexpr int kRepliesToTrustUnchecked = 3;
// Verified replies in a row after which the controller is known to send the checksum: from then
// on a reply that fails the check is never taken, however often it repeats.
inline constexpr int kPassesToKnowChecksum = 4;

// Further attempts after a failed read request (no reply, short or long reply, failed check).
// 0 sends each request once. Values are clamped to 0..kMaxReadRetries.
void SetReadRetries(int retries);
int ReadRetries();

// Read requests that needed at least one further attempt since the last reset (whatever their
// outcome).
uint64_t RetriedRequests();
void ResetRetriedRequests();
void CountRetriedRequest();

// Whether replies of the controller `ctrl` on `slot` are checked. Talking to another controller
// or on another slot starts afresh with the check on.
bool ReplyCheckOn(PortSlot slot, int ctrl);
// A reply passed the check; the streak of unchecked replies starts again.
void NoteReplyChecked(PortSlot slot, int ctrl);
// kPassesToKnowChecksum replies in a row passed the check (a controller without the checksum
// does that by chance once in 2^32).
bool ChecksumKnown(PortSlot slot, int ctrl);
// Failed replies with the same data were taken unchecked. True when this
// event switched the check off (the caller says so once in the exchange log).
bool NoteReplyRepeatedUnchecked(PortSlot slot, int ctrl);
// Forget what was learnt about the controller (a port was opened or closed).
void ForgetReplyChecks();

// How long replies on `slot` take from the read header to their first byte, in microseconds:
// the slowest recent one (0 when nothing was measured since the port was forgotten). Lets a
// request that has attempts left give up on a lost reply long before the full budget runs out.
int ReplyLatencyUs(PortSlot slot);
void NoteReplyLatency(PortSlot slot, int microseconds);

} // namespace velmar
