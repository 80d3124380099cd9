#include "device/packet_transport.h"

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace asio = boost::asio;
using boost::system::error_code;
using boost::system::system_error;

namespace {

asio::io_context& ContextOf(asio::serial_port& port) {
    return static_cast<asio::io_context&>(asio::query(port.get_executor(), asio::execution::context));
}

}  // namespace

SerialPortTransport::SerialPortTransport(asio::serial_port& port, const std::string& port_name)
    : port_(port), io_(ContextOf(port)), timer_(port.get_executor()), rx_(16384) {
    port_.open(port_name);  // raises "open"
    const int fd = port_.native_handle();
    // Exclusive use: TIOCEXCL refuses further opens of the tty; the flock
    // makes discovery (and any other careful program) see the port as taken.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        error_code ignored;
        port_.close(ignored);
        throw system_error(error_code(err == EWOULDBLOCK ? EBUSY : err, boost::system::system_category()),
                           "open");
    }
    ::ioctl(fd, TIOCEXCL);
    try {
        port_.set_option(asio::serial_port_base::baud_rate(9600));
        port_.set_option(asio::serial_port_base::character_size(8));
        port_.set_option(asio::serial_port_base::stop_bits(asio::serial_port_base::stop_bits::one));
        port_.set_option(asio::serial_port_base::parity(asio::serial_port_base::parity::none));
        port_.set_option(asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none));
        // Never sleep in a system call: every wait goes through the timer below.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    } catch (...) {
        ReleaseExclusive();
        error_code ignored;
        port_.close(ignored);
        throw;
    }
    ::tcflush(fd, TCIOFLUSH);
}

SerialPortTransport::~SerialPortTransport() {
    if (port_.is_open()) {
        ReleaseExclusive();
        error_code ignored;
        port_.close(ignored);
    }
}

void SerialPortTransport::ReleaseExclusive() noexcept {
    if (!port_.is_open()) return;
    // The exclusive flag belongs to the tty, not to this descriptor: clear it
    // so the next program (or the next connection) can open the port.
    ::ioctl(port_.native_handle(), TIOCNXCL);
}

void SerialPortTransport::Close() {
    ReleaseExclusive();
    rx_begin_ = rx_end_ = 0;
    port_.close();  // raises "close"
}

void SerialPortTransport::Purge() {
    rx_begin_ = rx_end_ = 0;
    if (port_.is_open()) ::tcflush(port_.native_handle(), TCIFLUSH);
}

size_t SerialPortTransport::Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(port_.native_handle(), data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            throw system_error(error_code(n == 0 ? EIO : errno, boost::system::system_category()), "write");
        // The line is full: wait for it to take the rest, but not forever.
        bool finished = false;
        bool timed_out = false;
        error_code result;
        size_t written = 0;
        asio::async_write(port_, asio::buffer(data + done, size - done),
                          [&](const error_code& e, size_t n2) {
                              result = e;
                              written = n2;
                              finished = true;
                              timer_.cancel();
                          });
        timer_.expires_after(timeout);
        timer_.async_wait([&](const error_code& e) {
            if (!e && !finished) {
                timed_out = true;
                error_code ignored;
                port_.cancel(ignored);
            }
        });
        io_.restart();
        io_.run();
        if (timed_out) throw system_error(make_error_code(boost::system::errc::timed_out), "write");
        if (result) throw system_error(result, "write");
        done += written;
    }
    return size;
}

void SerialPortTransport::Fill(std::chrono::steady_clock::time_point deadline) {
    if (rx_begin_ > 0) {
        std::memmove(rx_.data(), rx_.data() + rx_begin_, rx_end_ - rx_begin_);
        rx_end_ -= rx_begin_;
        rx_begin_ = 0;
    }
    auto space = asio::buffer(rx_.data() + rx_end_, rx_.size() - rx_end_);

    // Whatever has already arrived costs one system call.
    ssize_t n;
    do {
        n = ::read(port_.native_handle(), rx_.data() + rx_end_, rx_.size() - rx_end_);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        rx_end_ += static_cast<size_t>(n);
        return;
    }
    if (n == 0) throw system_error(asio::error::eof, "read");
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        throw system_error(error_code(errno, boost::system::system_category()), "read");

    bool finished = false;
    bool timed_out = false;
    error_code result;
    size_t got = 0;
    port_.async_read_some(space, [&](const error_code& e, size_t n2) {
        result = e;
        got = n2;
        finished = true;
        timer_.cancel();
    });
    timer_.expires_at(deadline);
    timer_.async_wait([&](const error_code& e) {
        if (!e && !finished) {
            timed_out = true;
            error_code ignored;
            port_.cancel(ignored);
        }
    });
    io_.restart();
    io_.run();
    if (timed_out) throw system_error(make_error_code(boost::system::errc::timed_out), "read");
    if (result) throw system_error(result, "read");
    rx_end_ += got;
}

size_t SerialPortTransport::Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    if (size > rx_.size()) throw system_error(make_error_code(boost::system::errc::invalid_argument), "read");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (rx_end_ - rx_begin_ < size) Fill(deadline);
    std::memcpy(data, rx_.data() + rx_begin_, size);
    rx_begin_ += size;
    return size;
}
