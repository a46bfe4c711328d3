#include "data/controller_model.h"

namespace velmar {

void ControllerModel::SetIdentity(const ControllerIdentity& identity) {
    Clear();
    identity_ = identity;
}

void ControllerModel::Clear() {
    identity_ = ControllerIdentity{};
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

} // namespace velmar
