#include "serial/component.h"

#include <algorithm>

namespace serial {

TVaComponent::~TVaComponent() {
    FDestroying = true;
    // Copy: a receiver may answer by removing its own notification.
    const std::vector<TVaComponent*> receivers = FFreeNotifies;
    FFreeNotifies.clear();
    for (TVaComponent* c : receivers) {
        c->Forget(this);
        c->Notification(this, opRemove);
    }
}

void TVaComponent::FreeNotification(TVaComponent* Component) {
    if (Component == nullptr || Component == this)
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), Component) == FFreeNotifies.end())
        FFreeNotifies.push_back(Component);
    if (std::find(Component->FFreeNotifies.begin(), Component->FFreeNotifies.end(), this) ==
        Component->FFreeNotifies.end())
        Component->FFreeNotifies.push_back(this);
}

void TVaComponent::RemoveFreeNotification(TVaComponent* Component) {
    if (Component == nullptr)
        return;
    Forget(Component);
    Component->Forget(this);
}

void TVaComponent::Notification(TVaComponent*, TOperation) {}

void TVaComponent::BeginDestroy() { FDestroying = true; }

void TVaComponent::Forget(TVaComponent* Component) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), Component), FFreeNotifies.end());
}

} // namespace serial
