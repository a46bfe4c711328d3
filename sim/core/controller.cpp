// A simulated controller: its memory spaces and the identity it takes from its parameter block.
#include "sim/core/bus_simulator.h"
#include "sim/core/controller_layout.h"
#include "sim/core/default_memory.h"
#include "sim/core/frame_receiver.h"

#include <algorithm>
#include <stdexcept>

namespace velmar::sim {

namespace L = layout;

uint8_t SimChecksum(const uint8_t* bytes, size_t count) {
    unsigned s = 0xFF;
    for (size_t i = 0; i < count; ++i) {
        s ^= bytes[i];
        s = ((s << 1) | (s >> 7)) & 0xFF;
    }
    return static_cast<uint8_t>(s);
}

Controller::Controller() : receiver_(std::make_unique<FrameReceiver>()) {
    for (auto& s : spaces_) s.assign(L::kSpaceSize, 0);
}

Controller::~Controller() = default;

std::unique_ptr<Controller> Controller::MakeDefault(int address) {
    return MakeDefault(address, 2, 2);
}

std::unique_ptr<Controller> Controller::MakeDefault(int address, int sides, int hosesPerSide) {
    address &= 0xFF;
    sides = std::clamp(sides, 1, 2);
    hosesPerSide = std::clamp(hosesPerSide, 1, 8);
    int sideB = address;
    do {
        sideB = (sideB + 1) & 0xFF;
    } while (sideB == 0 || sideB == kReserveAddressByte);

    std::unique_ptr<Controller> c(new Controller());
    FillDefaultMemory(*c, address, sideB, sides, hosesPerSide);
    c->identText = DefaultIdentText(120 + address);
    c->ApplyParams();
    return c;
}

std::vector<uint8_t>& Controller::Space(int space) {
    switch (space) {
    case 0:
        return spaces_[0];
    case 2:
        return spaces_[1];
    case 4:
        return spaces_[2];
    default:
        throw std::out_of_range("no such memory space");
    }
}

const std::vector<uint8_t>& Controller::Space(int space) const {
    return const_cast<Controller*>(this)->Space(space);
}

int Controller::SideAAddress() const {
    return sideA_;
}
int Controller::SideBAddress() const {
    return sideB_;
}
uint32_t Controller::LineBaud() const {
    return baud_;
}

bool Controller::AnswersAt(int lineAddress) const {
    lineAddress &= 0xFF;
    return lineAddress == kReserveAddressByte || lineAddress == sideA_ ||
           (sideB_ >= 0 && lineAddress == sideB_);
}

void Controller::ApplyParams() {
    const auto& er = spaces_[0];
    const uint8_t* p = &er[L::kParams];
    const uint8_t speed = p[L::kSpeedTrk];
    baud_ = speed < 4 ? kSpeedIndexBaud[speed] : kDefaultLineBaud;
    sideA_ = p[L::kAdrTrk1];
    sideB_ = p[L::kCountSideTrk] >= 2 ? p[L::kAdrTrk2] : -1;
}

void Controller::Restart() {
    ++restarts;
    ApplyParams();
    // The sizes record reports the topology the controller now runs with.
    auto& er = spaces_[0];
    er[L::kSizesRecord + 1] = er[L::kParams + L::kCountNozTrk];
    er[L::kSizesRecord + 2] = er[L::kParams + L::kCountSideTrk];
    receiver_->Reset();
}

void Controller::FixParamsChecksum() {
    auto& er = spaces_[0];
    const int size = std::max<int>(er[L::kParamsLength], 1);
    er[L::kParams + static_cast<uint32_t>(size) - 1] =
        SimChecksum(&er[L::kParams], static_cast<size_t>(size) - 1);
}

} // namespace velmar::sim
