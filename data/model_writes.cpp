#include "data/model_writes.h"

#include "data/meter_settings.h"
#include "data/params_io.h"

namespace velmar {

namespace {

template <class R> WriteResult WriteHeld(HeldRecord<R>& held, bool always, auto&& send) {
    if (!held.wasRead) return WriteResult::NotRead;
    if (!always && !held.Unsaved()) return WriteResult::NoChanges;
    const R out = held.working;
    if (!send(out).Ok()) return WriteResult::WriteFailed;
    held.read = out;
    return WriteResult::Written;
}

// `n` is a valid channel number (the model holds records only for those).
template <class R>
WriteResult WriteChannel(HeldRecord<R>& held, RecordStore& store, const ChannelRecordKind& kind,
                         int n) {
    if (!held.wasRead) return WriteResult::NotRead;
    if (!held.Unsaved()) return WriteResult::NoChanges;
    const R out = held.working;
    const WriteResult result = WriteChannelRecord(store, kind, n, out.data());
    if (result == WriteResult::Written) held.read = out;
    return result;
}

} // namespace

ParamsWriteOutcome WriteModelParams(ControllerModel& model, ParamsWriteRequest request) {
    HeldRecord<CtrlrParams>& held = model.Params();
    ParamsWriteOutcome out;
    out.address = request.ctrlrAddress;
    if (!held.wasRead) {
        out.result = WriteResult::NotRead;
        return out;
    }
    return WriteCtrlrParams(request, held.working, held.read);
}

WriteResult WriteModelParamsSized(ControllerModel& model, RecordStore& store) {
    HeldRecord<CtrlrParams>& held = model.Params();
    if (!held.wasRead) return WriteResult::NotRead;
    if (held.working.SameBlock(held.read)) return WriteResult::NoChanges;
    held.working.UpdateKsm();
    if (!WriteParamsSized(store, held.working, store.Sizes().paramsLength).Ok())
        return WriteResult::WriteFailed;
    held.Written();
    return WriteResult::Written;
}

WriteResult WriteModelMake(ControllerModel& model, RecordStore& store) {
    return WriteHeld(model.Make(), false, [&](const MakeBlock& out) {
        return store.Write(addr::kMakeBlock, make::kLength, out.data(), 0);
    });
}

WriteResult WriteModelChannelSetts(ControllerModel& model, RecordStore& store, int n) {
    if (!ChannelNumberValid(n)) return WriteResult::NotRead;
    return WriteChannel(model.Setts(n), store, kSettsRecord, n);
}

WriteResult WriteModelChannelRegs(ControllerModel& model, RecordStore& store, int n) {
    if (!ChannelNumberValid(n)) return WriteResult::NotRead;
    return WriteChannel(model.Regs(n), store, kRegsRecord, n);
}

MeterDeriveOutcome DeriveModelMeterSettings(ControllerModel& model, RecordStore& store, int count) {
    HeldRecord<CtrlrParams>& held = model.Params();
    if (!held.wasRead) return {MeterDeriveCode::ReadFailed};
    CtrlrParams block = held.read;
    CtrlrParams shadow = held.read;
    const MeterDeriveOutcome rc = DeriveCtrlrMeterSettings(store, count, block, shadow);
    if (rc.code == MeterDeriveCode::Derived && rc.changed != 0) {
        held.read = shadow;
        held.working.SetMeterType(shadow.MeterType());
        held.working.SetPhaseMet(shadow.PhaseMet());
        held.working.UpdateKsm();
    }
    return rc;
}

WriteResult WriteModelSide(ControllerModel& model, RecordStore& store, int side, int address) {
    return WriteHeld(model.Side(side), true, [&](const SideState& out) {
        return store.Write(address, side::kLength, out.data(), 0);
    });
}

WriteResult WriteModelTemperatures(ControllerModel& model, RecordStore& store) {
    return WriteHeld(model.Temperatures(), true, [&](const TempTable& out) {
        return store.Write(addr::kTempTable, temp::kLength, out.data(), 0);
    });
}

WriteResult WriteModelDump(ControllerModel& model, RecordStore& store) {
    return WriteHeld(model.Dump(), true, [&](const MemoryBlock& out) {
        return store.Write(static_cast<int>(out.address), static_cast<int>(out.bytes.size()),
                           out.bytes.data(), out.space);
    });
}

SetupWriteResult WriteModelInitialSetup(ControllerModel& model, RecordStore& store,
                                        const SetupProgress& progress) {
    ChannelSettsSet setts{};
    ChannelSettsSet settsShadow{};
    for (int n = 0; n < kChannelCount; ++n) {
        setts[static_cast<size_t>(n)] = model.Setts(n).working;
        settsShadow[static_cast<size_t>(n)] = model.Setts(n).read;
    }
    CtrlrParams shadow = model.Params().read;
    const SetupWriteResult result =
        WriteInitialSetup(store, model.Params().working, shadow, setts, settsShadow, progress);
    model.Params().read = shadow;
    for (int n = 0; n < kChannelCount; ++n) {
        model.Setts(n).read = settsShadow[static_cast<size_t>(n)];
        model.Regs(n).Forget();
    }
    return result;
}

} // namespace velmar
