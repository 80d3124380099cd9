// One connection to the dive computer, for the length of one device action.
//
// Every device action has the same shape: find the port, open it, identify
// the device, do the work, end the link, close the port. DeviceSession does
// all of it except the work:
//
//   DeviceSession session;
//   if (!session.Open(GetConfig().device_port)) {
//       show session.failure_key() (and failure_detail_key() as the second line);
//       return;
//   }
//   ... work with session.link() (from a worker thread if need be) ...
//   // leaving the scope ends the link (unless already ended) and closes the port
//
// The link is ended exactly once on every way out of an identified session:
// EndLink through the session, EndLink through link() (a worker that ends the
// link itself) and the destructor all go through one flag, and after the
// first one the device hears nothing more. A session that never identified
// sends no EndLink: nothing was opened, or the device did not answer as a
// dive computer.
//
// The port is opened on the session's own io_context and serial port, which
// live exactly as long as the session. One thread drives the session at a
// time; handing it to a worker and joining that worker is the only
// synchronisation it needs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/device_link.h"
#include "device/device_port.h"

// The identity the device reported, preset to what an unidentified device
// counts as.
struct DeviceIdentity {
    std::string firmware_version_text = "0.000";
    uint32_t info_value = 0;
    std::string model = "K7";
};

enum class DeviceSessionState {
    kClosed,         // Open not called yet
    kNoPort,         // no dive computer, or its port is in use
    kAccessDenied,   // a dive computer's port exists but may not be opened
    kOpenFailed,     // the port went away or refused its settings between search and open
    kNotIdentified,  // the identify request went out and failed; the port is open until the session ends
    kIdentified,     // ready for work
};

class DeviceSession {
public:
    // Finds the port; gets the configured override path (empty: search).
    using PortFinder = std::function<DevicePortResult(const std::string& override_port)>;
    // Opens the port at `port_path`; raises or returns null on failure.
    using LinkOpener = std::function<std::unique_ptr<DeviceLink>(const std::string& port_path)>;

    // The real thing: SearchDevicePort and a Usb on the session's own port.
    DeviceSession();
    // Other finders and openers (tests); a null one is the real one.
    DeviceSession(PortFinder find, LinkOpener open);
    // Ends the link if identified and not ended yet, then closes the port.
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Finds the port (`override_port`: the configured port, empty to search),
    // opens it, presets the identity and identifies the device. True when
    // identified. Called once per session.
    bool Open(const std::string& override_port);

    DeviceSessionState state() const { return state_; }
    bool identified() const { return state_ == DeviceSessionState::kIdentified; }
    // True once the identify request was sent, successful or not: identity()
    // then holds what the device answered, or the presets.
    bool identify_sent() const {
        return state_ == DeviceSessionState::kNotIdentified || state_ == DeviceSessionState::kIdentified;
    }
    const DeviceIdentity& identity() const { return identity_; }

    // The identified device for the work. Its EndLink is the session's; once
    // the link has ended (or when the session never identified) every command
    // fails without traffic.
    DeviceLink& link();

    // Ends the link: the first call on an identified session sends EndLink
    // and returns its result; every other call returns 0 and sends nothing.
    // Any thread (one at a time).
    size_t EndLink();
    bool link_ended() const { return ended_.load(); }

    // Message key of a failed Open: "USB_NOT_CONN" (no port, no access, open
    // failed) or "NOT_SUPPOR_DEVICE" (identify failed); "" otherwise.
    std::string failure_key() const;
    // Second line to show with it: "USB_ACCESS_DENIED" when a port was found
    // but access to it was denied; "" otherwise.
    std::string failure_detail_key() const;

private:
    class SessionLink;
    struct Port;

    // Open with the real port: a Usb on this session's io_context.
    std::unique_ptr<DeviceLink> OpenOwnPort(const std::string& port_path);

    PortFinder find_;
    LinkOpener open_;
    DeviceSessionState state_ = DeviceSessionState::kClosed;
    DeviceIdentity identity_;
    std::atomic<bool> ended_{false};
    // Destroyed in reverse order: the link (which closes the port), the link
    // handed to workers, then the serial port and its io_context.
    std::unique_ptr<Port> port_;
    std::unique_ptr<SessionLink> session_link_;
    std::unique_ptr<DeviceLink> device_;
};
