// The model's read sequences against controller memory in this process: a read fills both copies
// and "was read"; a failed, short or cancelled read leaves the model as it was.
#include "data/model_reads.h"
#include "model_store_fixture.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar {
namespace {

using test::ModelOverMemory;

constexpr int kChannel = 5;
constexpr int kSideB = 1;
constexpr uint32_t kDumpAddress = addr::kMakeBlock;
constexpr int kDumpCount = 3 * kMaxChunk + 7; // more than one transaction, the last one short

// What the model holds of one record: both copies' bytes and whether it was read.
struct Held {
    std::vector<uint8_t> read;
    std::vector<uint8_t> working;
    bool wasRead;
    bool operator==(const Held&) const = default;
};

template <class R> std::vector<uint8_t> BytesOf(const R& r) {
    if constexpr (std::is_same_v<R, MemoryBlock>)
        return r.bytes;
    else if constexpr (std::is_same_v<R, CtrlrParams>)
        return {r.data(), r.data() + r.Length()};
    else
        return {r.data(), r.data() + R::size()};
}

template <class R> Held Snapshot(const HeldRecord<R>& h) {
    return {BytesOf(h.read), BytesOf(h.working), h.wasRead};
}

struct ReadCase {
    std::string name;
    std::function<ReadResult(ControllerModel&, RecordStore&)> read;
    std::function<Held(const ControllerModel&)> held;
    int address;
    int length;
    bool selfSized = false; // whatever length comes is the record: a short answer cannot be told
};

std::vector<ReadCase> ReadCases() {
    return {
        {"parameter block", [](auto& m, auto& s) { return ReadModelParams(m, s); },
         [](const auto& m) { return Snapshot(m.Params()); }, addr::kParams, test::kBlockLength,
         true},
        {"make block", [](auto& m, auto& s) { return ReadModelMake(m, s); },
         [](const auto& m) { return Snapshot(m.Make()); }, addr::kMakeBlock, make::kLength},
        {"channel settings", [](auto& m, auto& s) { return ReadModelChannelSetts(m, s, kChannel); },
         [](const auto& m) { return Snapshot(m.Setts(kChannel)); },
         ChannelAddress(addr::kChannelSettsBase, kChannel), len::kChannelSetts},
        {"channel registers", [](auto& m, auto& s) { return ReadModelChannelRegs(m, s, kChannel); },
         [](const auto& m) { return Snapshot(m.Regs(kChannel)); },
         ChannelAddress(addr::kChannelRegsBase, kChannel), len::kChannelRegs},
        {"side B state",
         [](auto& m, auto& s) { return ReadModelSide(m, s, kSideB, addr::kSideStateB); },
         [](const auto& m) { return Snapshot(m.Side(kSideB)); }, addr::kSideStateB,
         len::kSideState},
        {"temperature table", [](auto& m, auto& s) { return ReadModelTemperatures(m, s); },
         [](const auto& m) { return Snapshot(m.Temperatures()); }, addr::kTempTable, temp::kLength},
        {"memory block",
         [](auto& m, auto& s) { return ReadModelDump(m, s, kDumpAddress, kDumpCount, kSpaceER); },
         [](const auto& m) { return Snapshot(m.Dump()); }, static_cast<int>(kDumpAddress),
         kDumpCount},
    };
}

TEST(ModelReads, AReadFillsBothCopiesWithTheRecordAsStored) {
    for (const ReadCase& c : ReadCases()) {
        ModelOverMemory t;
        ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read) << c.name;
        const Held held = c.held(t.model);
        EXPECT_TRUE(held.wasRead) << c.name;
        EXPECT_EQ(held.read, t.Bytes(c.address, c.length)) << c.name;
        EXPECT_EQ(held.working, held.read) << c.name;
        EXPECT_TRUE(t.store.writes.empty()) << c.name;
    }
}

// Each way a read can fail, over a model that already holds an earlier read of every record.
TEST(ModelReads, AFailedReadLeavesTheModelAsItWas) {
    const std::vector<std::pair<std::string, std::function<void(test::ScriptedStore&)>>> faults{
        {"no answer", [](auto& s) { s.failReads = 1000; }},
        {"an answer one byte short", [](auto& s) { s.shortBy = 1; }},
    };
    for (const auto& [fault, arrange] : faults) {
        for (const ReadCase& c : ReadCases()) {
            if (c.selfSized && fault != "no answer") continue;
            ModelOverMemory t;
            ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read) << c.name;
            // The memory changes, so a read that went through would show.
            for (int i = 0; i < c.length; ++i) ++t.memory[static_cast<size_t>(c.address + i)];
            t.model.Params().working.SetSlowStart(1);
            const ControllerModel before = t.model;
            arrange(t.store);
            EXPECT_NE(c.read(t.model, t.store), ReadResult::Read) << c.name << ", " << fault;
            EXPECT_EQ(c.held(t.model), c.held(before)) << c.name << ", " << fault;
            EXPECT_EQ(Snapshot(t.model.Params()), Snapshot(before.Params()))
                << c.name << ", " << fault;
        }
    }
}

TEST(ModelReads, TheParameterBlockIsAskedAgainAfterEmptyAnswers) {
    struct Case {
        int emptyAnswers;
        int allowed;
        ReadResult expected;
        int reads;
    };
    for (const Case& c : {Case{0, kParamsEmptyReadsAllowed, ReadResult::Read, 1},
                          Case{2, kParamsEmptyReadsAllowed, ReadResult::Read, 3},
                          Case{3, kParamsEmptyReadsAllowed, ReadResult::Empty, 3},
                          Case{1, 1, ReadResult::Empty, 1}}) {
        ModelOverMemory t;
        t.store.Sizes().paramsLength = 0;
        t.store.emptyReads = c.emptyAnswers;
        EXPECT_EQ(ReadModelParams(t.model, t.store, c.allowed), c.expected) << c.emptyAnswers;
        EXPECT_EQ(t.store.reads, c.reads) << c.emptyAnswers;
        EXPECT_EQ(t.model.Params().wasRead, c.expected == ReadResult::Read);
        // The write at the controller's size takes the length just read.
        EXPECT_EQ(t.store.Sizes().paramsLength,
                  c.expected == ReadResult::Read ? test::kBlockLength : 0);
    }
}

TEST(ModelReads, TheSetupTakesAllSixteenChannelsOrNone) {
    struct Case {
        int failures;
        int allowed;
        ReadResult expected;
    };
    for (const Case& c : {Case{0, 3, ReadResult::Read}, Case{2, 3, ReadResult::Read},
                          Case{3, 3, ReadResult::ReadFailed}}) {
        ModelOverMemory t;
        t.store.failReads = c.failures;
        EXPECT_EQ(ReadModelAllSetts(t.model, t.store, c.allowed), c.expected) << c.failures;
        for (int n = 0; n < kChannelCount; ++n) {
            const HeldRecord<ChannelSetts>& held = t.model.Setts(n);
            ASSERT_EQ(held.wasRead, c.expected == ReadResult::Read) << n;
            if (held.wasRead) {
                EXPECT_EQ(BytesOf(held.read),
                          t.Bytes(ChannelAddress(addr::kChannelSettsBase, n), len::kChannelSetts));
            }
        }
    }
}

TEST(ModelReads, AMemoryBlockIsReadATransactionAtATimeAndCanBeStopped) {
    ModelOverMemory t;
    std::vector<int> steps;
    int asked = 0;
    const ReadProgress untilSecond{[&] { return ++asked > 2; },
                                   [&](int done) { steps.push_back(done); }};
    EXPECT_EQ(ReadModelDump(t.model, t.store, kDumpAddress, kDumpCount, kSpaceER, untilSecond),
              ReadResult::Cancelled);
    EXPECT_EQ(steps, (std::vector<int>{kMaxChunk, 2 * kMaxChunk}));
    EXPECT_FALSE(t.model.Dump().wasRead);

    steps.clear();
    const ReadProgress whole{[] { return false; }, [&](int done) { steps.push_back(done); }};
    EXPECT_EQ(ReadModelDump(t.model, t.store, kDumpAddress, kDumpCount, kSpaceIR, whole),
              ReadResult::Read);
    EXPECT_EQ(steps.back(), kDumpCount);
    EXPECT_EQ(steps.size(), 4u);
    EXPECT_EQ(t.model.Dump().read.space, kSpaceIR);
    EXPECT_EQ(t.model.Dump().read.address, kDumpAddress);
}

TEST(ModelReads, AChannelThatDoesNotExistIsNeverAsked) {
    for (const int n : {-1, kChannelCount}) {
        ModelOverMemory t;
        EXPECT_EQ(ReadModelChannelSetts(t.model, t.store, n), ReadResult::ReadFailed) << n;
        EXPECT_EQ(ReadModelChannelRegs(t.model, t.store, n), ReadResult::ReadFailed) << n;
        EXPECT_EQ(t.store.reads, 0) << n;
    }
}

} // namespace
} // namespace velmar
