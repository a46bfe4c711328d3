// How memory reads stand up to a noisy line: the retry count, the count of retried requests, and
// what is known of a controller's trailing reply byte.
//
// Every read reply carries one byte after its data; the controllers put ChecksumRot8 of the data
// there. What a controller does is learnt from its replies, and until it is known no reply is
// taken on its own:
// - Unknown: a reply is taken when a second read returns it again (a passing reply too), or when
//   it is the kPassesToKnowChecksum-th reply with new data to pass the check.
// - Checksum: a reply is taken when it passes the check; one that fails is never taken.
// - NotChecksum: learnt from kRepliesToRevealTrailer replies in a row that fail the check with
//   identical bytes. Every reply is then confirmed by a second read returning identical bytes;
//   when two reads differ a further read decides. This stays so for the controller until the
//   port is forgotten: a right file is worth the doubled line time.
//
// The retry count bounds the reads of each request: one plus the retries once the checksum is
// known, two plus the retries otherwise. Writes of memory records are repeated within the same
// count (mem_transactions.cpp, block_write.cpp).
//
// All of it is kept in the context of the port open on the slot (line_context.h): it starts
// afresh with each port opened, and is used by the thread that runs the line's exchanges.
#pragma once

#include "link/serial_port.h"
#include "protocol/line_context.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

// Passing replies with different data after which the trailing byte is known to be the checksum
// (a controller without it passes that often by chance about once in 2^24).
inline constexpr int kPassesToKnowChecksum = 3;
// Failing replies in a row with identical bytes that show the trailing byte is not a checksum
// (a controller with the checksum whose reply noise garbled twice alike is not taken for one).
inline constexpr int kRepliesToRevealTrailer = 3;
// Identical replies that confirm a chunk of a controller without the checksum.
inline constexpr int kConfirmingReads = 2;

// What follows reaches the context of the port open on `slot` (line_context.h); without a port
// the readers give the defaults and the rest does nothing.

// Further attempts after a failed read request (no reply, short or long reply, failed check,
// replies that differ) or a write chunk whose status was lost or garbled. 0 sends each request
// as often as confirmation needs and no more. Values are clamped to 0..kMaxReadRetries; a port
// opened starts with kDefaultReadRetries.
void SetReadRetries(PortSlot slot, int retries);
int ReadRetries(PortSlot slot);

// Requests (reads or write chunks) on `slot` that needed a further attempt since the port was
// opened, whatever their outcome.
uint64_t RetriedRequests(PortSlot slot);
void CountRetriedRequest(PortSlot slot);

// What is known of the trailing byte of the replies of controller `ctrl` on `slot`.
Trailer ReplyTrailer(PortSlot slot, int ctrl);
// A reply passed the check. It counts towards knowing the checksum only when its bytes differ
// from every pass counted before (the same data passes or fails alike each time). True when the
// trailing byte is now known to be the checksum.
bool NoteReplyPassed(PortSlot slot, int ctrl, const uint8_t* reply, size_t size);
// The controller's trailing byte is not a checksum. True the first time for this controller
// (the caller says so once in the exchange log).
bool NoteTrailerNotChecksum(PortSlot slot, int ctrl);
// ReplyTrailer() == NotChecksum: each reply of this controller is confirmed by reading it again.
bool RepliesConfirmedByRereading(PortSlot slot, int ctrl);
// The numbers (low byte) of the controllers on `slot` whose replies are confirmed by rereading.
std::vector<int> ControllersConfirmedByRereading(PortSlot slot);
// How long replies on `slot` take from the read header to their first byte, in microseconds:
// the slowest recent one (0 when nothing was measured since the port was forgotten). A port
// whose replies come later than the budget gets longer waits from it.
int ReplyLatencyUs(PortSlot slot);
void NoteReplyLatency(PortSlot slot, int microseconds);

// Whether the replies on `slot` keep the line time, learnt from replies that cannot be owed to
// an earlier request: a line (serial, converter, device server) never delivers a reply sooner
// than request and reply take at its speed; a pseudo-terminal without a line behind it does. Only
// then is a reply that comes too soon refused as owed to an earlier request.
void NoteReplyPace(PortSlot slot, bool keptLineTime);
bool RepliesKeepLineTime(PortSlot slot);
// A reply given up on may still arrive on `slot`: when the request it was owed to was sent
// (steady-clock microseconds), or 0 when none is owed.
void NoteReplyOwed(PortSlot slot, int64_t sentAtUs);
int64_t ReplyOwedSince(PortSlot slot);
bool ReplyOwedPossible(PortSlot slot);

} // namespace velmar
