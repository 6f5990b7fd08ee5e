#pragma once
// The program's serial port: a port number, line settings, buffer sizes and
// software flow control over QSerialPort, with a "data available" signal that
// carries the number of waiting bytes, byte reads, text writes, discarding of
// pending output and a bounded flush.
//
// Port numbers name devices through the [Ports] section of setup.ini (keys
// com1 ... com9, lpt1); without a key port n is /dev/ttyS(n-1) and the
// parallel printer is /dev/lp0. The ini file is read elsewhere: whoever owns
// it installs the lookup with setPortNameSource.
//
// A port that keeps itself open (the default) survives its device going away
// (a USB adapter pulled out, a hung-up line): it closes on the first read or
// resource error or hang-up and quietly tries to open again every few
// seconds, as long as nobody closed it on purpose.

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace devices {

// ---- port numbers and device names ----

// The lookup of a [Ports] key ("com1" ... "com9", "lpt1"): the configured
// device name, or empty when the key is not set. The default lookup gives
// empty for every key. An empty function restores the default.
using PortNameSource = std::function<std::string(const std::string& key)>;
PortNameSource setPortNameSource(PortNameSource source);

// The device of serial port n: the configured com<n> (n from 1 to 9), else
// /dev/ttyS(n-1). Empty for a port number below 1.
std::string portDeviceName(int portNumber);
// The device of the parallel ticket printer: the configured lpt1, else /dev/lp0.
std::string parallelDeviceName();

// ---- line settings and flow control ----

enum class Parity { None, Even, Odd };

struct LineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;
};

// Software (XOn/XOff) flow control. The terminal driver knows one pair of
// start and stop characters for both directions.
//   receive:  the driver sends xoff when its input fills and xon when it has
//             room again (IXOFF); received xon/xoff bytes are ordinary data.
//   transmit: a received xoff pauses sending and xon resumes it (IXON); those
//             two bytes are then taken out of the input.
// IXANY is always off: only xon resumes.
struct FlowControl {
    bool receive = false;
    bool transmit = false;
    unsigned char xon = 0x11;
    unsigned char xoff = 0x13;
};

class SerialPort : public QObject {
    Q_OBJECT
public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    // The port number; the device is looked up at every open.
    void setPortNumber(int portNumber);
    int portNumber() const { return portNumber_; }
    // A device path that overrides the port number's device (tools, tests);
    // empty to use the port number again.
    void setDeviceName(std::string device);
    // The device the next open uses.
    std::string deviceName() const;

    void setLineSettings(const LineSettings& settings);
    const LineSettings& lineSettings() const { return line_; }
    // Input: how many received bytes the port holds for the program before it
    // stops taking more from the driver (which then throttles the sender when
    // receive flow control is on). Output: how many written bytes may wait to
    // be sent; a write that would exceed it is refused.
    void setBufferSizes(int inputBytes, int outputBytes);
    void setFlowControl(const FlowControl& flow);
    const FlowControl& flowControl() const { return flow_; }

    // Whether the port keeps itself open (reopens after its device was lost
    // or could not be opened) until close() is called. On by default.
    void setKeepOpen(bool keep);
    // How often a lost or unopened port tries again, in milliseconds.
    void setReopenInterval(int ms);
    // How often an open port checks that its device is still there.
    void setWatchInterval(int ms);

    // Opens the device with the settings above; true when it is open (also
    // when it already was). On failure lastError() says why; a port that
    // keeps itself open goes on trying quietly.
    bool open();
    // Closes the port and stops any reopening.
    void close();
    bool isOpen() const;
    std::string lastError() const { return lastError_; }

    // Received bytes waiting to be read.
    int bytesAvailable() const;
    // One received byte (0..255), or -1 when none is waiting.
    int readByte();
    // Up to maxBytes received bytes; gives how many were read.
    std::size_t read(char* data, std::size_t maxBytes);

    // Queues the text for sending; false when the port is not open or the
    // output buffer would overflow (nothing is queued then).
    bool writeText(std::string_view text);
    // Drops everything written and not yet sent.
    void discardOutput();
    // Written bytes not yet sent: those the port holds plus those in the
    // driver's output queue.
    long pendingOutput() const;
    // Waits until every written byte has left the port (the driver's output
    // queue and, where the driver tells, the transmitter are empty). Gives up
    // and gives false when no byte has left for idleTimeoutMs: a receiver that
    // holds XOff or a dead line cannot stall the caller for longer than that.
    bool flush(int idleTimeoutMs);

signals:
    // Received bytes are waiting; count is how many. Emitted again after the
    // handler returns as long as it keeps reading and bytes keep waiting, so
    // bytes that arrived while a handler ran a modal loop are not left behind.
    void dataAvailable(int count);
    // The port has been opened (also after a reopen), its settings applied.
    void opened();
    // The device went away; the port closed itself.
    void lost();

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void onWatch();
    void applyQtSettings();
    bool applyTermios();
    bool deviceStillThere() const;
    void loseDevice();
    void scheduleRetry();

    QSerialPort port_;
    QTimer watch_;
    int portNumber_ = 0;
    std::string device_;
    std::string openedDevice_;
    LineSettings line_;
    FlowControl flow_;
    int inputBytes_ = 0;   // 0: no limit
    int outputBytes_ = 0;  // 0: no limit
    bool keepOpen_ = true;
    bool wanted_ = false;  // open() was called and close() not since
    int reopenMs_ = 3000;
    int watchMs_ = 500;
    unsigned long long readCount_ = 0;
    bool inDataEvent_ = false;
    std::string lastError_;
};

}  // namespace devices
