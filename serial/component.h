// The small part of a component framework the serial components rely on: the after-loading hook, the
// being-destroyed state and notices to interested components when one goes away.
#pragma once

#include <vector>

namespace serial {

enum TOperation { opInsert, opRemove };

class TVaComponent {
public:
    TVaComponent() = default;
    virtual ~TVaComponent();
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;

    // Called once the properties have been set as a form description would set them.
    virtual void Loaded() {}
    // Asks for Notification(this, opRemove) on Component when this component is destroyed (both ways, so
    // either may go first).
    void FreeNotification(TVaComponent* Component);
    void RemoveFreeNotification(TVaComponent* Component);
    bool Destroying() const { return FDestroying; }
    // A design-time host would set this; the program never does.
    bool Designing() const { return FDesigning; }
    void SetDesigning(bool Value) { FDesigning = Value; }

    virtual void Notification(TVaComponent* Component, TOperation Operation);

protected:
    // Derived destructors call this first, so that what they do while closing down sees Destroying().
    void BeginDestroy();

private:
    void Forget(TVaComponent* Component);
    std::vector<TVaComponent*> FFreeNotifies;
    bool FDestroying = false;
    bool FDesigning = false;
};

} // namespace serial
