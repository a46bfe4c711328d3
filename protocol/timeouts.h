// How long each exchange waits for the controller's reply. Every limit is a time budget on a
// monotonic clock; the exchange wakes as soon as the awaited bytes are there, so the budgets only
// bound how long a silent or broken line can hold the caller.
#pragma once

#include "link/serial_port.h"

namespace velmar {

struct ProtocolTimeouts {
    // Self-sized read: the 2-byte reply carrying the record length.
    int lengthReplyMs = 200;
    // Each read chunk fails after this long without growth of the waiting count; the budget
    // starts again whenever more bytes have arrived.
    int readChunkStallMs = 210;
    // Each write chunk: its status reply.
    int writeStatusMs = 510;
    // Address poll: the 4-byte reply.
    int addressPollMs = 120;
    // Identification text: silence that ends the text.
    int identSilenceMs = 251;
    // Acknowledged block write (whole images): the first status byte.
    int blockAckMs = 300;
    // Once a reply has the expected length, how long (in percent of one character time at the
    // port's speed) no further byte may follow before it is taken; a longer reply is refused.
    int replySettlePercent = 150;
    // Every reply to a read request is awaited for the full budget (plus the network allowance
    // of the port): a controller may answer that late, and a request sent while its reply is
    // still coming would collide with it on the half-duplex line or take it for its own. When
    // nothing came, the line is watched this percentage of the budget longer before anything
    // else is sent: a reply that begins then is still this request's (nothing else is
    // outstanding), and the port's waits grow to `lateReplyPercent` of such late replies.
    int lateWatchPercent = 50;
    int lateReplyPercent = 150;
    int lateReplyMarginMs = 10;
    // A reply complete sooner than this percentage of the line time of request and reply cannot
    // be the request's own (checked on ports whose replies keep the line time).
    int earlyReplyPercent = 90;
};

// The budgets in force on the port open on `slot` (its LineContext; the defaults for no port).
const ProtocolTimeouts& Timeouts(PortSlot slot);
// Sets them for the port open on `slot`, until it is closed; nothing without a port.
void SetTimeouts(PortSlot slot, const ProtocolTimeouts& timeouts);

// Fixed pauses the controller needs; not tunable.
inline constexpr int kDataFramePauseMs = 50; // between a write header and its data frame
inline constexpr int kBlockCmdPauseMs = 20;  // between command and header in acknowledged writes
// How long a frame may take to leave before a pause after it: 9 bytes at 1200 baud and more.
inline constexpr int kFrameSentBudgetMs = 200;

} // namespace velmar
