#include "serial/dispatcher.h"

#include "serial/comm.h"

namespace serial {

TVaDispatcher::TVaDispatcher(IVaCommUser* User) : FUser(User) {}

TVaDispatcher::~TVaDispatcher() {
    if (TVaCustomComm* comm = Comm())
        comm->RemoveClient(this);
}

int TVaDispatcher::WriteBuf(const void* Data, int Count) {
    TVaCustomComm* comm = Comm();
    return comm ? comm->WriteBuf(Data, Count) : 0;
}

bool TVaDispatcher::WriteText(std::string_view Text) {
    TVaCustomComm* comm = Comm();
    return comm ? comm->WriteText(Text) : false;
}

bool TVaDispatcher::WriteChar(char Ch) {
    TVaCustomComm* comm = Comm();
    return comm ? comm->WriteChar(Ch) : false;
}

void TVaDispatcher::PurgeRead() {
    if (TVaCustomComm* comm = Comm())
        comm->PurgeRead();
}

void TVaDispatcher::PurgeWrite() {
    if (TVaCustomComm* comm = Comm())
        comm->PurgeWrite();
}

void TVaDispatcher::PurgeReadWrite() {
    if (TVaCustomComm* comm = Comm())
        comm->PurgeReadWrite();
}

void TVaDispatcher::SetDTRState(bool On) {
    if (TVaCustomComm* comm = Comm())
        comm->SetDTR(On);
}

void TVaDispatcher::DataEvent(PVaData Data, int Count) {
    if (Active() && FUser != nullptr)
        FUser->DataChanged(Data, Count);
}

void TVaDispatcher::LineEvent(std::uint32_t EvtMask) {
    if (Active() && FUser != nullptr)
        FUser->LineChanged(EvtMask);
}

TVaCommComponent::TVaCommComponent() : FDispatcher(this) {}

TVaCommComponent::~TVaCommComponent() {
    BeginDestroy();
    SetComm(nullptr);
}

void TVaCommComponent::SetComm(TVaCustomComm* Port) {
    if (FComm != nullptr) {
        FComm->RemoveClient(&FDispatcher);
        RemoveFreeNotification(FComm);
    }
    FComm = Port;
    if (FComm != nullptr) {
        FComm->InsertClient(&FDispatcher);
        FreeNotification(FComm);
    }
}

void TVaCommComponent::LineChanged(std::uint32_t) {}
void TVaCommComponent::DataChanged(PVaData, int) {}

void TVaCommComponent::Notification(TVaComponent* Component, TOperation Operation) {
    TVaComponent::Notification(Component, Operation);
    if (Operation == opRemove && Component == FComm) {
        // The port has already detached the dispatcher; only the reference is left to drop.
        FComm = nullptr;
    }
}

} // namespace serial
