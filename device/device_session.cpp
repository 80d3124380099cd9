#include "device/device_session.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include "device/usb.h"

struct DeviceSession::Port {
    boost::asio::io_context io;
    boost::asio::serial_port serial{io};
};

// What the work gets: the opened device, with EndLink routed through the
// session so that it goes out once, and silence once it has.
class DeviceSession::SessionLink : public DeviceLink {
public:
    explicit SessionLink(DeviceSession& session) : session_(session) {}

    bool GetInfo(std::string& firmware_version_text, uint32_t& info_value, std::string& model) override {
        DeviceLink* d = live();
        return d && d->GetInfo(firmware_version_text, info_value, model);
    }
    bool ReadBlock(uint32_t address, uint8_t* out, uint32_t length) override {
        DeviceLink* d = live();
        return d && d->ReadBlock(address, out, length);
    }
    bool WriteBlock(uint32_t address, const uint8_t* data) override {
        DeviceLink* d = live();
        return d && d->WriteBlock(address, data);
    }
    size_t EndLink() override { return session_.EndLink(); }
    void FinishFirmwareUpdate() override {
        if (DeviceLink* d = live()) d->FinishFirmwareUpdate();
    }

private:
    DeviceLink* live() const {
        if (!session_.identified() || session_.link_ended()) return nullptr;
        return session_.device_.get();
    }
    DeviceSession& session_;
};

DeviceSession::DeviceSession() : DeviceSession(nullptr, nullptr) {}

DeviceSession::DeviceSession(PortFinder find, LinkOpener open)
    : find_(std::move(find)), open_(std::move(open)), session_link_(std::make_unique<SessionLink>(*this)) {}

DeviceSession::~DeviceSession() {
    EndLink();
    // Closing cannot raise here: the link's destructor closes the port.
    device_.reset();
    port_.reset();
}

std::unique_ptr<DeviceLink> DeviceSession::OpenOwnPort(const std::string& port_path) {
    port_ = std::make_unique<Port>();
    return std::make_unique<Usb>(port_->serial, port_path);
}

bool DeviceSession::Open(const std::string& override_port) {
    if (state_ != DeviceSessionState::kClosed) return identified();

    const DevicePortResult found = find_ ? find_(override_port) : SearchDevicePort(override_port);
    if (found.status != DevicePortStatus::kFound) {
        state_ = found.status == DevicePortStatus::kAccessDenied ? DeviceSessionState::kAccessDenied
                                                                 : DeviceSessionState::kNoPort;
        return false;
    }

    try {
        device_ = open_ ? open_(found.path) : OpenOwnPort(found.path);
    } catch (...) {
        // Unplugged or taken between the search and the open: nothing was
        // sent, so there is no link to end.
        device_.reset();
    }
    if (!device_) {
        port_.reset();
        state_ = DeviceSessionState::kOpenFailed;
        return false;
    }

    identity_ = DeviceIdentity();
    if (!device_->GetInfo(identity_.firmware_version_text, identity_.info_value, identity_.model)) {
        state_ = DeviceSessionState::kNotIdentified;
        return false;
    }
    state_ = DeviceSessionState::kIdentified;
    return true;
}

DeviceLink& DeviceSession::link() {
    return *session_link_;
}

size_t DeviceSession::EndLink() {
    if (!identified() || ended_.exchange(true)) return 0;
    return device_->EndLink();
}

std::string DeviceSession::failure_key() const {
    switch (state_) {
        case DeviceSessionState::kNoPort:
        case DeviceSessionState::kAccessDenied:
        case DeviceSessionState::kOpenFailed: return "USB_NOT_CONN";
        case DeviceSessionState::kNotIdentified: return "NOT_SUPPOR_DEVICE";
        case DeviceSessionState::kClosed:
        case DeviceSessionState::kIdentified: break;
    }
    return std::string();
}

std::string DeviceSession::failure_detail_key() const {
    return state_ == DeviceSessionState::kAccessDenied ? "USB_ACCESS_DENIED" : std::string();
}
