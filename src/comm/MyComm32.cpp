#include "comm/MyComm32.h"

#include <cerrno>
#include <cstring>

#include "comm/CommLog.h"
#include "comm/CommWorkers.h"
#include "comm/PortDiscovery.h"
#include "comm/SerialLine.h"

namespace ristova {

struct TMyComport::Impl {
    explicit Impl(IMainThreadPoster& poster)
        : window(std::make_shared<comm::NotificationWindow>(poster)) {}

    // Applies the settings to the open device: empty, or why the line
    // cannot run with them.
    std::string ApplyLine();
    void Failed(PortOpenFailure failure, std::string text) {
        lastFailure = failure;
        lastError = std::move(text);
    }

    std::string commPort = "COM1";
    std::uint32_t baudRate = 9600;
    TComPortDataBits dataBits = db8BITS;
    TComPortStopBits stopBits = sb1BITS;
    TComPortParity parity = ptNONE;
    TComPortHwHandshaking hwHandshaking = hhNONE;
    TComPortSwHandshaking swHandshaking = shNONE;
    std::uint16_t readTimeout = 10;
    bool enableDtrOnOpen = true;
    std::string logFileName;
    std::string lastError;
    PortOpenFailure lastFailure = PortOpenFailure::None;
    std::string settingsProblem;

    std::unique_ptr<serial::SerialDevice> device;
    comm::SharedReadTimeout deviceReadTimeout;
    std::unique_ptr<comm::StopEvent> stop;
    std::unique_ptr<comm::TReadThread> reader;
    std::unique_ptr<comm::TWriteThread> writer;
    std::shared_ptr<comm::NotificationWindow> window;
};

TMyComport::TMyComport(IMainThreadPoster& poster) : impl_(std::make_unique<Impl>(poster)) {}

TMyComport::~TMyComport() {
    ClosePort();
    impl_->window->Destroy();
}

std::string TMyComport::DevicePath(const std::string& commPort) {
    return comm::PortDevice(commPort);
}

bool TMyComport::OpenPort() {
    Impl& d = *impl_;
    if (d.device) {
        WriteCommLogTimed(" 端口已经打开" + d.commPort);
        return false;
    }
    if (!d.logFileName.empty()) commlog::Create(d.logFileName);
    if (!d.settingsProblem.empty()) {
        d.Failed(PortOpenFailure::Settings, d.settingsProblem);
        WriteCommLog("串口参数无效:" + d.commPort);
        return false;
    }

    serial::OpenRefusal refusal;
    d.device = serial::SerialDevice::Open(DevicePath(d.commPort), refusal);
    if (!d.device) {
        d.Failed(refusal.failure, std::move(refusal.text));
        WriteCommLog((refusal.notSerial ? "打开端口类型错误:" : "打开端口失败:") + d.commPort);
        return false;
    }
    WriteCommLogTimed(" 打开" + d.commPort + "成功");

    d.deviceReadTimeout = std::make_shared<std::atomic<std::uint16_t>>(d.readTimeout);
    d.lastError.clear();
    d.lastFailure = PortOpenFailure::None;
    // Settings the line cannot take (a speed it does not run at) make no
    // open line; the operator is told which.
    if (std::string refused = d.ApplyLine(); !refused.empty()) {
        WriteCommLog("串口参数无效:" + d.commPort);
        ClosePort();
        d.Failed(PortOpenFailure::Settings, std::move(refused));
        return false;
    }

    const unsigned line = d.window->NewLine();
    d.stop = std::make_unique<comm::StopEvent>();
    if (!d.stop->Create()) {
        d.lastError = "no stop event";
        d.lastFailure = PortOpenFailure::Other;
        WriteCommLog("不能创建关闭事件CloseEvent!");
        ClosePort();
        return false;
    }
    // A worker that cannot be made leaves nothing half set up: what was
    // started is stopped again and the result is False.
    try {
        d.reader = std::make_unique<comm::TReadThread>(*d.device, *d.stop, d.window,
                                                       d.deviceReadTimeout, line);
        d.reader->Start();
    } catch (const std::exception& e) {
        d.reader.reset();
        WriteCommLog("不能创建Read thread");
        ClosePort();
        d.lastError = e.what();
        d.lastFailure = PortOpenFailure::Other;
        return false;
    }
    try {
        d.writer = std::make_unique<comm::TWriteThread>(*d.device, *d.stop,
                                                        comm::EndedReport{d.window, line});
        d.writer->Start();
    } catch (const std::exception& e) {
        d.writer.reset();
        WriteCommLog("不能创建Write thread");
        ClosePort();
        d.lastError = e.what();
        d.lastFailure = PortOpenFailure::Other;
        return false;
    }
    return true;
}

void TMyComport::ClosePort() {
    Impl& d = *impl_;
    if (!d.device) return;
    WriteCommLogTimed(" Stopping the Comm");
    auto stopWorker = [&](auto& worker, const char* closing, const char* stuck, bool input) {
        if (!worker) return;
        WriteCommLogTimed(closing);
        if (d.stop) d.stop->Signal();
        if (input) {
            d.device->FlushInput();
        } else {
            d.device->FlushOutput();
        }
        // Workers always wake on the stop event; the wait is a safeguard
        // that only writes a line, since a thread cannot be killed safely.
        if (!worker->WaitEnded(10000)) WriteCommLogTimed(stuck);
        worker.reset();
    };
    stopWorker(d.reader, " 关闭Read Thread", " Read thread不再存在.关闭它", true);
    stopWorker(d.writer, " 关闭Write Thread", " Write thread不再存在.关闭它", false);
    // The writer has reported every block it held; their owners hear of it
    // before the close returns.
    d.window->DeliverSendFates();

    d.device.reset();
    d.stop.reset();
    d.deviceReadTimeout.reset();
    // What the closed line's workers still report is no news of a line.
    d.window->NewLine();
    if (!d.logFileName.empty()) commlog::Close();
}

bool TMyComport::SendData(const void* data, std::uint16_t length) {
    return SendData(data, length, nullptr);
}

bool TMyComport::SendData(const void* data, std::uint16_t length, SendDoneHandler onDone) {
    return Send(data, length, std::move(onDone), {}) == SendStatus::Queued;
}

SendStatus TMyComport::Send(const void* data, std::uint16_t length, SendDoneHandler onDone,
                            SendOptions options) {
    Impl& d = *impl_;
    if (!d.writer) {
        WriteCommLogTimed(" 没有创建Write thread");
        return SendStatus::Failed;
    }
    // No bytes to copy from: refused like a failed post, nothing is sent.
    if (!data && length > 0) {
        WriteCommLogTimed(" 不能给Write thread发送消息!");
        return SendStatus::Failed;
    }
    comm::Block block;
    block.data = comm::Block::Allocate(length);
    if (block.data && length > 0) std::memcpy(block.data.get(), data, length);
    block.count = length;
    block.done = std::move(onDone);
    block.options = options;
    const comm::TWriteThread::Posted posted =
        block.data ? d.writer->Post(std::move(block)) : comm::TWriteThread::Posted::Closed;
    if (posted == comm::TWriteThread::Posted::Full) {
        WriteCommLogTimed(" Write queue full");
        return SendStatus::QueueFull;
    }
    if (posted != comm::TWriteThread::Posted::Queued) {
        WriteCommLogTimed(" 不能给Write thread发送消息!");
        return SendStatus::Failed;
    }
    return SendStatus::Queued;
}

void TMyComport::ApplyLineSettings() {
    if (impl_->device) impl_->ApplyLine();
}

std::string TMyComport::Impl::ApplyLine() {
    deviceReadTimeout->store(readTimeout);
    WriteCommLogTimed(" SetCommTimeouts OK");
    serial::LineSettings line;
    line.baud = baudRate;
    line.dataBits = static_cast<int>(dataBits) + 5;
    line.parity = static_cast<int>(parity);
    line.stopBits = static_cast<int>(stopBits);
    line.rtsCts = hwHandshaking == hhRTSCTS;
    line.xonXoff = swHandshaking == shXONXOFF;
    const serial::LineApplied applied = device->ApplyLine(line);
    if (enableDtrOnOpen) device->RaiseDtr();
    if (applied.refused == serial::LineRefusal::None && applied.status.Ok())
        WriteCommLogTimed(" SetCommState OK");
    switch (applied.refused) {
        case serial::LineRefusal::None:
            return {};
        case serial::LineRefusal::Speed:
            return "串口不支持波特率:" + std::to_string(baudRate);
        case serial::LineRefusal::Impossible:
            break;
    }
    return baudRate == 0 ? std::string("波特率无效:0")
                         : std::string(OpenFailureText(PortOpenFailure::Settings));
}

const std::string& TMyComport::CommPort() const {
    return impl_->commPort;
}
void TMyComport::SetCommPort(const std::string& name) {
    impl_->commPort = name;
}
std::uint32_t TMyComport::ComPortBaudRate() const {
    return impl_->baudRate;
}
void TMyComport::SetComPortBaudRate(std::uint32_t baud) {
    impl_->baudRate = baud;
}
TComPortDataBits TMyComport::ComPortDataBits() const {
    return impl_->dataBits;
}
TComPortStopBits TMyComport::ComPortStopBits() const {
    return impl_->stopBits;
}
TComPortParity TMyComport::ComPortParity() const {
    return impl_->parity;
}
TComPortHwHandshaking TMyComport::ComPortHwHandshaking() const {
    return impl_->hwHandshaking;
}
TComPortSwHandshaking TMyComport::ComPortSwHandshaking() const {
    return impl_->swHandshaking;
}

// These five re-apply on every assignment while open, changed or not.
void TMyComport::SetComPortDataBits(TComPortDataBits v) {
    impl_->dataBits = v;
    ApplyLineSettings();
}
void TMyComport::SetComPortStopBits(TComPortStopBits v) {
    impl_->stopBits = v;
    ApplyLineSettings();
}
void TMyComport::SetComPortParity(TComPortParity v) {
    impl_->parity = v;
    ApplyLineSettings();
}
void TMyComport::SetComPortHwHandshaking(TComPortHwHandshaking v) {
    impl_->hwHandshaking = v;
    ApplyLineSettings();
}
void TMyComport::SetComPortSwHandshaking(TComPortSwHandshaking v) {
    impl_->swHandshaking = v;
    ApplyLineSettings();
}

NativeHandle TMyComport::CommFileHandle() const {
    return impl_->device ? impl_->device->Handle() : kNoHandle;
}
std::uint16_t TMyComport::ReadTimeout() const {
    return impl_->readTimeout;
}
void TMyComport::SetReadTimeout(std::uint16_t ms) {
    impl_->readTimeout = ms;
}
bool TMyComport::EnableDTROnOpen() const {
    return impl_->enableDtrOnOpen;
}
void TMyComport::SetEnableDTROnOpen(bool on) {
    impl_->enableDtrOnOpen = on;
}
const std::string& TMyComport::CommsLogFileName() const {
    return impl_->logFileName;
}
void TMyComport::SetCommsLogFileName(const std::string& name) {
    impl_->logFileName = name;
    commlog::SetName(name);
}
void TMyComport::SetOnReceiveData(TReceiveDataEvent handler) {
    impl_->window->SetHandler(std::move(handler));
}
void TMyComport::SetOnLineEnded(TLineEndedEvent handler) {
    impl_->window->SetEndedHandler(std::move(handler));
}
bool TMyComport::LineEnded() const {
    return impl_->device && impl_->window->Ended();
}
bool TMyComport::DeviceGone() const {
    return impl_->device && impl_->device->GoneFrom(DevicePath(impl_->commPort));
}
PortOpenFailure TMyComport::LastOpenFailure() const {
    return impl_->lastFailure;
}

PortOpenFailure OpenFailureOfErrno(int error) {
    switch (error) {
        case 0:
            return PortOpenFailure::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
        case EISDIR:
            return PortOpenFailure::NoDevice;
        case EBUSY:
        case EWOULDBLOCK:
            return PortOpenFailure::Busy;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortOpenFailure::NoPermission;
        default:
            return PortOpenFailure::Other;
    }
}

const char* OpenFailureText(PortOpenFailure failure) {
    switch (failure) {
        case PortOpenFailure::NoDevice:
            return "端口不存在";
        case PortOpenFailure::Busy:
            return "端口被其它程序占用";
        case PortOpenFailure::NoPermission:
            return "没有权限打开端口,请把用户加入dialout组";
        case PortOpenFailure::Settings:
            return "串口参数无效";
        default:
            return "端口不存在或被其它程序占用";
    }
}

const std::string& TMyComport::LastError() const {
    return impl_->lastError;
}

std::string TMyComport::OpenFailureReason() const {
    if (impl_->lastFailure == PortOpenFailure::Settings && !impl_->lastError.empty())
        return impl_->lastError;
    return OpenFailureText(impl_->lastFailure);
}

void TMyComport::SetSettingsProblem(std::string reason) {
    impl_->settingsProblem = std::move(reason);
}

}  // namespace ristova
