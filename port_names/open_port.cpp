#include "port_names/open_port.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "network_port/network_port.h"

namespace fwu::port_names {

namespace {

// The platform's serial port opened by the device a name stands for: COM7 for "\\.\COM7" (the Windows port adds
// the prefix itself), and for usb:SERIAL the adapter looked up in the port list at every open, wherever it is
// plugged in now.
class DevicePort final : public SerialPort {
 public:
  explicit DevicePort(std::unique_ptr<SerialPort> device) : device_(std::move(device)) {}

  OpenResult Open(const std::string& portName) override {
    reason_.clear();
    std::string problem;
    const std::optional<PortName> name = ParsePortName(portName, &problem);
    if (!name || name->form == Form::Network) {
      return device_->Open(portName);
    }
    if (name->form == Form::Device) {
      return device_->Open(name->device);
    }
    const std::string device = Locate(*name, ListPorts());
    if (device.empty()) {
      device_->Close();
      reason_ = "no adapter with serial number " + name->usbSerial + " is plugged in ('fwupdate-cli ports' lists them)";
      return OpenResult::OpenFailed;
    }
    return device_->Open(device);
  }
  void Close() override { device_->Close(); }
  [[nodiscard]] bool IsOpen() const override { return device_->IsOpen(); }
  [[nodiscard]] std::string OpenFailureReason() const override {
    return reason_.empty() ? device_->OpenFailureReason() : reason_;
  }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override { return device_->Read(into, waitMs); }
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override { return device_->Write(bytes); }
  void Purge() override { device_->Purge(); }

 private:
  std::unique_ptr<SerialPort> device_;
  std::string reason_;
};

}  // namespace

std::unique_ptr<SerialPort> NewPort(const std::string& text) {
  std::string problem;
  if (const std::optional<PortName> name = ParsePortName(text, &problem); name && name->form == Form::Network) {
    return std::make_unique<network_port::NetworkPort>(network_port::NewTcpConnection(), NewPortClock());
  }
  return std::make_unique<DevicePort>(NewSerialPort());
}

std::string Locate(const PortName& name, const std::vector<PortInfo>& ports, Rules rules) {
  if (name.form == Form::UsbSerial) {
    const auto port =
        std::ranges::find_if(ports, [&](const PortInfo& candidate) { return candidate.serial == name.usbSerial; });
    return port == ports.end() ? std::string() : port->name;
  }
  if (name.form == Form::Network || rules == Rules::Windows) {
    return name.form == Form::Network ? name.text : name.device;
  }
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(name.device, error);
  return error ? std::string() : device.string();
}

}  // namespace fwu::port_names
