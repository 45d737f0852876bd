// The client side of a port: components that consume the raw byte stream (the terminal screen, the
// file-transfer components) attach to a port through a dispatcher and are called back with data and line
// events.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "serial/component.h"

namespace serial {

class TVaCustomComm;
class TVaComm;

using PVaData = const std::uint8_t*;

class IVaCommUser {
public:
    virtual ~IVaCommUser() = default;
    virtual void LineChanged(std::uint32_t EvtMask) = 0;
    virtual void DataChanged(PVaData Data, int Count) = 0;
};

// One per client; attached to at most one port. The forwarding calls may come from any thread (the transfer
// components write from their own threads); attaching and detaching belong to the main thread.
class TVaDispatcher {
public:
    explicit TVaDispatcher(IVaCommUser* User);
    ~TVaDispatcher();
    TVaDispatcher(const TVaDispatcher&) = delete;
    TVaDispatcher& operator=(const TVaDispatcher&) = delete;

    // Forwarders to the attached port; 0 / False / nothing while not attached.
    int WriteBuf(const void* Data, int Count);
    bool WriteText(std::string_view Text);
    bool WriteChar(char Ch);
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();
    void SetDTRState(bool On);

    // Called by the port on the main thread; passed to the user only while Active.
    void DataEvent(PVaData Data, int Count);
    void LineEvent(std::uint32_t EvtMask);

    bool Active() const { return FActive.load(); }
    void SetActive(bool Value) { FActive.store(Value); }
    TVaCustomComm* Comm() const { return FComm.load(); }
    IVaCommUser* User() const { return FUser; }

private:
    friend class TVaCustomComm; // sets and clears the attachment from InsertClient/RemoveClient
    IVaCommUser* FUser;
    std::atomic<bool> FActive{true};
    std::atomic<TVaCustomComm*> FComm{nullptr};
};

// Base of the non-visual port clients. Override DataChanged and LineChanged.
class TVaCommComponent : public TVaComponent, public IVaCommUser {
public:
    TVaCommComponent();
    ~TVaCommComponent() override;

    TVaCustomComm* Comm() const { return FComm; }
    void SetComm(TVaCustomComm* Port);
    bool Active() const { return FDispatcher.Active(); }
    void SetActive(bool Value) { FDispatcher.SetActive(Value); }
    TVaDispatcher& Dispatcher() { return FDispatcher; }

    void LineChanged(std::uint32_t EvtMask) override;
    void DataChanged(PVaData Data, int Count) override;
    void Notification(TVaComponent* Component, TOperation Operation) override;

private:
    TVaDispatcher FDispatcher;
    TVaCustomComm* FComm = nullptr;
};

} // namespace serial
