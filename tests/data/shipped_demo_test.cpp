// The demo image shipped at the root of the project is what our own code makes from the
// simulator's default controller, and the demo backend serves it.
#include "data/demo_image.h"
#include "data/demo_store.h"
#include "data/memory_store.h"
#include "data/read_checks.h"
#include "data_test_support.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velmar {
namespace {

std::string ShippedPath() {
    const char* src = std::getenv("VELMAR_SOURCE_DIR");
    return std::string(src != nullptr ? src : ".") + "/demo_trk.bin";
}

TEST(ShippedDemoImage, EqualsTheGeneratedImage) {
    auto c = sim::Controller::MakeDefault(1);
    MemoryRecordStore store(c->Space(0));
    std::vector<uint8_t> generated;
    std::string error;
    ASSERT_EQ(BuildDemoImage(store, generated, &error), DemoBuildResult::Built) << error;
    ASSERT_EQ(generated.size(), static_cast<size_t>(demo::kLayoutLength));
    EXPECT_EQ(test::ReadBytes(ShippedPath()), generated)
        << "demo_trk.bin is stale: regenerate it with velmar-make-demo demo_trk.bin";
}

TEST(ShippedDemoImage, LoadsAndHoldsSoundRecords) {
    DemoLoadResult r{};
    auto store = MakeDemoRecordStore(ShippedPath(), r);
    ASSERT_EQ(r, DemoLoadResult::Loaded) << store->LastError();
    uint8_t buf[256];
    const int n = store->Read(0x3100, -1, buf).Length();
    ASSERT_EQ(n, 58);
    CtrlrParams p(buf, n);
    const auto check = CheckParamsOnRead(p);
    EXPECT_TRUE(check.Messages().empty()) << check.Messages().front();
    EXPECT_GE(p.CountNozTrk(), 1);
    for (int ch = 0; ch < p.CountNozTrk() * p.CountSideTrk(); ++ch) {
        ChannelSetts s;
        ASSERT_EQ(store->Read(0x1000 + ch * 0x100, 19, s.data()).Length(), 19);
        EXPECT_TRUE(CheckSettsOnRead(s).empty()) << ch;
        EXPECT_NE(s.ImpLit(), 0) << ch;
        ChannelRegs g;
        ASSERT_EQ(store->Read(0x2000 + ch * 0x100, 69, g.data()).Length(), 69);
        EXPECT_TRUE(CheckRegsOnRead(g).empty()) << ch;
    }
}

} // namespace
} // namespace velmar
