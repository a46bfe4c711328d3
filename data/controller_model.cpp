#include "data/controller_model.h"

#include <algorithm>

namespace velmar {

void ControllerModel::SetIdentity(const ControllerIdentity& identity) {
    Clear();
    identity_ = identity;
}

void ControllerModel::Clear() {
    identity_ = ControllerIdentity{};
    sizes_.Clear();
    ForgetRecords();
}

void ControllerModel::ForgetRecords() {
    params_.Forget();
    make_.Forget();
    temperatures_.Forget();
    for (auto& r : setts_) r.Forget();
    for (auto& r : regs_) r.Forget();
    for (auto& r : sides_) r.Forget();
    dump_.Forget();
    ++generation_;
}

int ControllerModel::ChannelCount() const {
    if (!params_.wasRead) return 0;
    return std::min(params_.read.CountSideTrk() * params_.read.CountNozTrk(), kChannelCount);
}

} // namespace velmar
