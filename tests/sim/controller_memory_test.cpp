// Default memory of a controller and saved device images.
#include "sim/core/bus_simulator.h"
#include "sim/core/controller_layout.h"
#include "sim/raw_line.h"
#include "sim/sim_fixture.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace velmar::sim {
namespace {

namespace L = layout;

uint32_t Le32(const std::vector<uint8_t>& m, uint32_t at) {
    return m[at] | m[at + 1] << 8 | m[at + 2] << 16 | static_cast<uint32_t>(m[at + 3]) << 24;
}

TEST(DefaultController, RecordsAreConsistent) {
    for (auto [sides, hoses] : {std::pair{2, 2}, {1, 8}, {2, 8}, {1, 2}, {2, 1}}) {
        SCOPED_TRACE(testing::Message() << sides << " x " << hoses);
        auto c = Controller::MakeDefault(9, sides, hoses);
        const auto& er = c->Space(0);
        const uint8_t* p = &er[L::kParams];
        EXPECT_EQ(er[L::kParamsLength], 58);
        EXPECT_EQ(SimChecksum(p, 57), p[L::kKsm]);
        EXPECT_EQ(p[L::kAdrTrk1], 9);
        EXPECT_EQ(p[L::kCountNozTrk], hoses);
        EXPECT_EQ(p[L::kCountSideTrk], sides);
        const uint8_t sizes[7] = {
            58, static_cast<uint8_t>(hoses), static_cast<uint8_t>(sides), 19, 0, 69, 12};
        EXPECT_TRUE(std::equal(sizes, sizes + 7, er.begin() + L::kSizesRecord));
        EXPECT_EQ(c->SideAAddress(), 9);
        EXPECT_EQ(c->SideBAddress(), sides == 2 ? 10 : -1);
        EXPECT_EQ(c->LineBaud(), 4800u);

        // Every used hose has its own fiscal totaliser and a factor matching the meter type.
        const int used = sides * hoses;
        std::set<uint32_t> totals;
        for (int n = 0; n < used; ++n) {
            const uint32_t regs = L::kChannelRegsBase + static_cast<uint32_t>(n) * 0x100;
            const uint32_t setts = L::kChannelSettsBase + static_cast<uint32_t>(n) * 0x100;
            totals.insert(Le32(er, regs + 46));
            EXPECT_EQ(er[setts + 14] | er[setts + 15] << 8, 200);
            EXPECT_EQ(er[setts + 16], p[23]); // phase mode as the parameter block says
        }
        EXPECT_EQ(totals.size(), static_cast<size_t>(used));
        // The used-channel mask of the make-specific block.
        EXPECT_EQ(er[L::kMakeBlock] | er[L::kMakeBlock + 1] << 8, (1 << used) - 1);
        // The physical map: side A hose j is channel j, side B's is j + hoses.
        if (!(sides == 1 && hoses == 2)) {
            EXPECT_EQ(p[35], 0);
            EXPECT_EQ(p[36], sides == 2 ? hoses : 255);
            EXPECT_EQ(p[35 + 2 * hoses], hoses < 8 ? 255 : p[35 + 2 * hoses]);
        } else {
            EXPECT_EQ(p[35], 0);
            EXPECT_EQ(p[36], 1);
            EXPECT_EQ(p[37], 255);
        }
    }
}

TEST(DefaultController, TemperatureTableAndReading) {
    auto c = Controller::MakeDefault(1);
    const auto& er = c->Space(0);
    auto entry = [&](int k) {
        return er[L::kTempTable + 2 * k] | er[L::kTempTable + 2 * k + 1] << 8;
    };
    // 10 kOhm / B 3950 / 25 °C thermistor: -50 °C gives 11, +26 °C 523, +102 °C 960.
    EXPECT_EQ(entry(0), 11);
    EXPECT_EQ(entry(19), 523);
    EXPECT_EQ(entry(38), 960);
    const auto& ir = c->Space(2);
    const int adc = ir[L::kTempAdcReg] | ir[L::kTempAdcReg + 1] << 8;
    EXPECT_GT(adc, entry(17)); // 21 °C lies between the 18 and 22 °C entries
    EXPECT_LT(adc, entry(18));
}

TEST(DeviceImage, RoundTrip) {
    auto c = Controller::MakeDefault(4, 2, 3);
    c->Space(0)[0x2000 + 46] = 0x99;
    const auto image = c->ImageBytes();
    ASSERT_EQ(image.size(), 1810u);
    EXPECT_EQ(image[0], 58);
    EXPECT_EQ(image[7 + L::kAdrTrk1], 4);

    const std::string path = testing::TempDir() + "sim_image_" + std::to_string(getpid()) + ".bin";
    ASSERT_EQ(c->SaveImageFile(path), 0);
    std::string error;
    auto loaded = Controller::FromImageFile(path, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->ImageBytes(), image);
    EXPECT_EQ(loaded->SideAAddress(), 4);
    EXPECT_EQ(loaded->SideBAddress(), 5);
    std::remove(path.c_str());
}

TEST(DeviceImage, OptionalBlocksAndOtherSizes) {
    auto c = Controller::MakeDefault(1);
    auto image = c->ImageBytes();
    // Give the image 16-byte optional blocks: 32 more bytes after the channel settings.
    image[4] = 16;
    const size_t at = 7 + 58 + 16 * 19;
    std::vector<uint8_t> blocks(32);
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(0xC0 + i);
    image.insert(image.begin() + static_cast<long>(at), blocks.begin(), blocks.end());
    std::string error;
    auto loaded = Controller::FromImage(image, error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->Space(0)[0x0000], 0xC0);
    EXPECT_EQ(loaded->Space(0)[0x0100 + 15], 0xC0 + 31);
    EXPECT_EQ(loaded->Space(0)[L::kSizesRecord + 4], 16);
    EXPECT_EQ(loaded->ImageBytes(), image);
}

TEST(DeviceImage, BadFilesAreRefusedClearly) {
    std::string error;
    EXPECT_EQ(Controller::FromImageFile("/nonexistent/x.bin", error), nullptr);
    EXPECT_NE(error.find("cannot open"), std::string::npos);

    auto image = Controller::MakeDefault(1)->ImageBytes();
    EXPECT_EQ(Controller::FromImage({58, 2, 2}, error), nullptr);
    EXPECT_NE(error.find("too short"), std::string::npos);

    auto shortImage = image;
    shortImage.pop_back();
    EXPECT_EQ(Controller::FromImage(shortImage, error), nullptr);
    EXPECT_NE(error.find("1809"), std::string::npos) << error;

    auto longImage = image;
    longImage.push_back(0);
    EXPECT_EQ(Controller::FromImage(longImage, error), nullptr);

    auto zeroSides = image;
    zeroSides[2] = 0;
    EXPECT_EQ(Controller::FromImage(zeroSides, error), nullptr);
    EXPECT_NE(error.find("byte 2"), std::string::npos);

    auto huge = image;
    huge[3] = huge[5] = 255; // announces far more than an image can hold
    EXPECT_EQ(Controller::FromImage(huge, error), nullptr);
}

TEST(DeviceImage, BusServesTheImage) {
    auto source = Controller::MakeDefault(6, 1, 4);
    source->Space(0)[L::kMakeBlock + 100] = 0x42;
    const std::string path =
        testing::TempDir() + "sim_bus_image_" + std::to_string(getpid()) + ".bin";
    ASSERT_EQ(source->SaveImageFile(path), 0);

    Options o;
    o.imageFile = path;
    BusSimulator bus(o);
    ASSERT_EQ(bus.Start(), 0);
    test::RawLine line(bus.SlavePath());
    EXPECT_EQ(test::Poll(line, 6).size(), 4u);
    EXPECT_TRUE(test::Poll(line, 7).empty()); // one side only
    const auto r = test::ReadMem(line, 6, L::kMakeBlock + 100, 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], 0x42);
    bus.Stop();
    std::remove(path.c_str());

    Options bad;
    bad.imageFile = "/nonexistent/x.bin";
    BusSimulator broken(bad);
    EXPECT_FALSE(broken.SetupError().empty());
    EXPECT_EQ(broken.Start(), EINVAL);
}

} // namespace
} // namespace velmar::sim
