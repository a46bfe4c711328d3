// The results of reading and of writing one record: the read and write sequences over the model
// (model_reads.h, model_writes.h, params_write.h) answer with them, and so do the steps below
// them that read or write a single record (channel_io.h).
#pragma once

namespace velmar {

// A value-initialised result (work that never ran) is a failure, never a read.
enum class ReadResult {
    ReadFailed, // no answer, or fewer bytes than the record: the model is unchanged
    Empty,      // the controller answered with no bytes each time it was asked
    Cancelled,  // stopped between two transactions: the model is unchanged
    Read,       // the model holds the record as read
};

// The one result of every record write sequence (params_write.h and model_writes.h).
enum class WriteResult {
    NoChanges,      // the working copy equals the shadow copy: nothing written
    NotRead,        // the record was never read from this controller: nothing written
    SizesFailed,    // the sizes record could not be refreshed before the write
    WriteFailed,    // the record was not taken; the shadow copy is unchanged
    RestartFailed,  // written, but the restart is not in effect (see RestartSeen); nothing followed
    PortFailed,     // written and restarted, but the port could not switch to the new speed
    ChannelsFailed, // written, but what follows it (channels, second record) failed
    Written,
};

} // namespace velmar
