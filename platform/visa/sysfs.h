// What the kernel tells about USB instruments and serial ports through sysfs. The roots are
// /sys and /dev unless VMK40XX_SYSFS and VMK40XX_DEVFS name others, as the tests do with a tree
// of their own.
#pragma once

#include <string>
#include <vector>

namespace vmk::visa {

std::string SysfsRoot();
std::string DevRoot();

// The first line of a sysfs attribute, without its line feed; empty when there is none.
std::string ReadAttribute(const std::string& path);

struct UsbIdentity {
  bool known = false;  // false: the device is not on USB
  unsigned vendor = 0, product = 0;
  std::string serial;  // empty when the device has no serial number string
  std::string manufacturer, productName;
  int interfaceNumber = -1;
};

// The USB device behind a class device (/sys/class/<class>/<name>): its `device` link leads to
// the USB interface, or to a port under it, and above that is the device with the identifiers.
UsbIdentity UsbIdentityOf(const std::string& classDevice);

struct ClassDevice {
  std::string name;  // usbtmc0, ttyUSB0, ...
  UsbIdentity usb;
};

// The USBTMC interfaces the kernel driver has bound: /sys/class/usbmisc/usbtmc*.
std::vector<ClassDevice> ListUsbtmc();
// Serial lines with hardware behind them: /sys/class/tty entries with a device, less the
// legacy UART slots the kernel lists whether or not a port is there.
std::vector<ClassDevice> ListSerialPorts();

}  // namespace vmk::visa
