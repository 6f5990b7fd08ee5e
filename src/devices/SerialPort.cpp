#include "devices/SerialPort.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace devices {

namespace {

PortNameSource& nameSource()
{
    static PortNameSource source;
    return source;
}

std::string lookUp(const std::string& key)
{
    if (auto& source = nameSource())
        return source(key);
    return {};
}

QSerialPort::DataBits qtDataBits(int bits)
{
    switch (bits) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

QSerialPort::Parity qtParity(Parity p)
{
    switch (p) {
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    default: return QSerialPort::NoParity;
    }
}

}  // namespace

PortNameSource setPortNameSource(PortNameSource source)
{
    PortNameSource previous = std::move(nameSource());
    nameSource() = std::move(source);
    return previous;
}

std::string portDeviceName(int portNumber)
{
    if (portNumber < 1)
        return {};
    if (portNumber <= 9) {
        std::string configured = lookUp("com" + std::to_string(portNumber));
        if (!configured.empty())
            return configured;
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string parallelDeviceName()
{
    std::string configured = lookUp("lpt1");
    return configured.empty() ? std::string("/dev/lp0") : configured;
}

SerialPort::SerialPort(QObject* parent) : QObject(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::onError);
    connect(&watch_, &QTimer::timeout, this, &SerialPort::onWatch);
}

SerialPort::~SerialPort() { close(); }

void SerialPort::setPortNumber(int portNumber) { portNumber_ = portNumber; }

void SerialPort::setDeviceName(std::string device) { device_ = std::move(device); }

std::string SerialPort::deviceName() const { return device_.empty() ? portDeviceName(portNumber_) : device_; }

void SerialPort::setLineSettings(const LineSettings& settings)
{
    line_ = settings;
    if (port_.isOpen()) {
        applyQtSettings();
        applyTermios();  // Qt's setters leave the flow control bits alone, but keep them certain
    }
}

void SerialPort::setBufferSizes(int inputBytes, int outputBytes)
{
    inputBytes_ = inputBytes > 0 ? inputBytes : 0;
    outputBytes_ = outputBytes > 0 ? outputBytes : 0;
    port_.setReadBufferSize(inputBytes_);
}

void SerialPort::setFlowControl(const FlowControl& flow)
{
    flow_ = flow;
    if (port_.isOpen())
        applyTermios();
}

void SerialPort::setKeepOpen(bool keep)
{
    keepOpen_ = keep;
    if (!keep && !port_.isOpen())
        watch_.stop();
}

void SerialPort::setReopenInterval(int ms) { reopenMs_ = ms > 0 ? ms : 1; }

void SerialPort::setWatchInterval(int ms)
{
    watchMs_ = ms > 0 ? ms : 1;
    if (port_.isOpen() && watch_.isActive())
        watch_.start(watchMs_);
}

void SerialPort::applyQtSettings()
{
    port_.setBaudRate(line_.baudRate);
    port_.setDataBits(qtDataBits(line_.dataBits));
    port_.setParity(qtParity(line_.parity));
    port_.setStopBits(line_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    // Qt's software flow control would set IXON, IXOFF and IXANY together and
    // cannot choose the characters; the driver's flags are set in applyTermios.
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(inputBytes_);
}

bool SerialPort::applyTermios()
{
    const int fd = int(port_.handle());
    termios t {};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
        lastError_ = std::string("cannot read the line settings: ") + std::strerror(errno);
        return false;
    }
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (flow_.receive)
        t.c_iflag |= IXOFF;
    if (flow_.transmit)
        t.c_iflag |= IXON;
    if (flow_.receive || flow_.transmit) {
        t.c_cc[VSTART] = cc_t(flow_.xon);
        t.c_cc[VSTOP] = cc_t(flow_.xoff);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        lastError_ = std::string("cannot set the flow control: ") + std::strerror(errno);
        return false;
    }
    // An XOff received before this open (or before a close) may still hold the
    // driver's output; the receiver says again if it is not ready.
    if (flow_.transmit)
        ::tcflow(fd, TCOON);
    return true;
}

bool SerialPort::open()
{
    wanted_ = true;
    if (port_.isOpen())
        return true;
    const std::string device = deviceName();
    if (device.empty()) {
        lastError_ = "no device for serial port " + std::to_string(portNumber_);
        scheduleRetry();
        return false;
    }
    port_.setPortName(QString::fromStdString(device));
    applyQtSettings();
    if (!port_.open(QIODevice::ReadWrite)) {
        lastError_ = device + ": " + port_.errorString().toStdString();
        port_.clearError();
        scheduleRetry();
        return false;
    }
    // Every open starts from the driver's settings as Qt leaves them (a close
    // restores what was there before the open), so the flow control flags and
    // characters are set again each time.
    if (!applyTermios()) {
        port_.close();
        scheduleRetry();
        return false;
    }
    openedDevice_ = device;
    lastError_.clear();
    watch_.start(watchMs_);
    emit opened();
    return true;
}

void SerialPort::close()
{
    wanted_ = false;
    watch_.stop();
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

bool SerialPort::isOpen() const { return port_.isOpen(); }

void SerialPort::scheduleRetry()
{
    if (keepOpen_ && wanted_)
        watch_.start(reopenMs_);
    else
        watch_.stop();
}

void SerialPort::loseDevice()
{
    if (!port_.isOpen())
        return;
    port_.close();
    port_.clearError();
    emit lost();
    scheduleRetry();
}

bool SerialPort::deviceStillThere() const
{
    const int fd = int(port_.handle());
    if (fd < 0)
        return false;
    // A hung-up line (the device unplugged, the other end of a pseudo-terminal
    // closed) polls as HUP or ERR while reads give nothing.
    pollfd p {fd, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return false;
    // The name now belongs to another device: a re-plugged adapter, or a link
    // pointing elsewhere. A name that is gone while the line still works is
    // left alone.
    struct stat byName {}, byHandle {};
    if (::stat(openedDevice_.c_str(), &byName) == 0 && ::fstat(fd, &byHandle) == 0) {
        if (S_ISCHR(byHandle.st_mode) && byName.st_rdev != byHandle.st_rdev)
            return false;
    }
    return true;
}

void SerialPort::onWatch()
{
    if (port_.isOpen()) {
        if (!deviceStillThere())
            loseDevice();
        return;
    }
    if (!keepOpen_ || !wanted_) {
        watch_.stop();
        return;
    }
    open();  // quietly: a failure only schedules the next try
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // Qt raises these from inside its read notification; closing there would
    // delete the notifier under its own feet, so close on the next turn.
    QMetaObject::invokeMethod(this, &SerialPort::loseDevice, Qt::QueuedConnection);
}

void SerialPort::onReadyRead()
{
    if (inDataEvent_)
        return;  // a handler is running a nested loop; the loop below picks the bytes up
    inDataEvent_ = true;
    for (;;) {
        if (!port_.isOpen())
            break;
        const qint64 waiting = port_.bytesAvailable();
        if (waiting <= 0)
            break;
        const unsigned long long before = readCount_;
        emit dataAvailable(int(waiting > 0x7fffffff ? 0x7fffffff : waiting));
        if (readCount_ == before)
            break;  // the handler took nothing; wait for the next arrival
    }
    inDataEvent_ = false;
}

int SerialPort::bytesAvailable() const { return port_.isOpen() ? int(port_.bytesAvailable()) : 0; }

int SerialPort::readByte()
{
    char c = 0;
    if (!port_.isOpen() || !port_.getChar(&c))
        return -1;
    ++readCount_;
    return static_cast<unsigned char>(c);
}

std::size_t SerialPort::read(char* data, std::size_t maxBytes)
{
    if (!port_.isOpen() || maxBytes == 0)
        return 0;
    const qint64 n = port_.read(data, qint64(maxBytes));
    if (n <= 0)
        return 0;
    readCount_ += static_cast<unsigned long long>(n);
    return std::size_t(n);
}

bool SerialPort::writeText(std::string_view text)
{
    if (!port_.isOpen())
        return false;
    if (text.empty())
        return true;
    if (outputBytes_ > 0 && pendingOutput() + long(text.size()) > long(outputBytes_))
        return false;
    return port_.write(text.data(), qint64(text.size())) == qint64(text.size());
}

void SerialPort::discardOutput()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

long SerialPort::pendingOutput() const
{
    if (!port_.isOpen())
        return 0;
    long pending = long(port_.bytesToWrite());
    int queued = 0;
    if (::ioctl(int(port_.handle()), TIOCOUTQ, &queued) == 0 && queued > 0)
        pending += queued;
    return pending;
}

bool SerialPort::flush(int idleTimeoutMs)
{
    if (!port_.isOpen())
        return false;
    const int fd = int(port_.handle());
    auto transmitterEmpty = [fd] {
        // Only real UARTs answer this; other lines count as empty once the
        // driver's queue is.
        unsigned int lsr = 0;
        if (::ioctl(fd, TIOCSERGETLSR, &lsr) != 0)
            return true;
        return (lsr & TIOCSER_TEMT) != 0;
    };
    QElapsedTimer idle;
    idle.start();
    long last = pendingOutput();
    bool emptyBefore = false;
    for (;;) {
        if (port_.bytesToWrite() > 0) {
            port_.waitForBytesWritten(20);  // a time-out here is only this slice
            port_.clearError();
        } else {
            ::usleep(2000);
        }
        if (!port_.isOpen())
            return false;
        const long now = pendingOutput();
        if (now == 0) {
            if (transmitterEmpty())
                return true;
            // The last byte or two are in the transmitter: no XOff can stop
            // those, but do not wait for ever on a driver that never says.
            if (!emptyBefore) {
                emptyBefore = true;
                idle.restart();
            }
        }
        if (now < last) {
            last = now;
            idle.restart();
        } else if (idle.elapsed() >= idleTimeoutMs) {
            return now == 0;
        }
    }
}

}  // namespace devices
