// Which instruments are there: serial ports and USB instruments from sysfs, VXI-11 instruments
// by asking the portmappers of the local networks, each with its "*IDN?" reply where that is
// cheap to get.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>

#include "platform/com/ascii.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/portmap.h"
#include "platform/visa/sysfs.h"
#include "platform/visa/visa.h"
#include "vmk40xx/discovery.h"

namespace vmk::visa {
namespace {

std::vector<std::string> Split(const char* text, char separator) {
  std::vector<std::string> parts;
  if (!text) return parts;
  std::string part;
  for (const char* p = text;; ++p) {
    if (*p == separator || *p == '\0') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else if (*p != ' ') {
      part.push_back(*p);
    }
  }
  return parts;
}

// VISA's expression grammar in std::regex's: '?' is any one character, '*' and '+' repeat what
// precedes them, [list] [^list] ( ) | as usual, '\' takes the next character literally, and
// every other character stands for itself.
HRESULT Compile(std::string_view expression, std::regex* out, std::string* why) {
  std::string re;
  bool atomBefore = false;
  for (size_t i = 0; i < expression.size(); ++i) {
    const char c = expression[i];
    switch (c) {
      case '?':
        re += '.';
        atomBefore = true;
        break;
      case '*':
      case '+':
        if (!atomBefore) {
          *why = std::string("\"") + std::string(expression) + "\": '" + c +
                 "' has nothing before it to repeat";
          return E_VISA_INV_EXPR;
        }
        re += c;
        atomBefore = false;
        break;
      case '[': {
        const size_t close = expression.find(']', i + 2);
        if (close == std::string_view::npos) {
          *why = "\"" + std::string(expression) + "\": '[' without its ']'";
          return E_VISA_INV_EXPR;
        }
        re.append(expression.substr(i, close - i + 1));
        i = close;
        atomBefore = true;
        break;
      }
      case '(':
      case '|':
        re += c;
        atomBefore = false;
        break;
      case ')':
        re += c;
        atomBefore = true;
        break;
      case '\\':
        if (i + 1 == expression.size()) {
          *why = "\"" + std::string(expression) + "\" ends in '\\'";
          return E_VISA_INV_EXPR;
        }
        ++i;
        [[fallthrough]];
      default:
        if (std::strchr(".^$\\{}[]()|*+?", expression[i])) re += '\\';
        re += expression[i];
        atomBefore = true;
    }
  }
  try {
    *out = std::regex(re, std::regex::ECMAScript | std::regex::icase);
  } catch (const std::regex_error&) {
    *why = "\"" + std::string(expression) + "\" is not a resource expression";
    return E_VISA_INV_EXPR;
  }
  return S_OK;
}

// Whether any resource of `keyword` can match: the expression's fixed start must agree with it.
// A search for "TCPIP?*" then sends nothing to a serial port, and "ASRL?*" no broadcast.
bool MayMatch(std::string_view expression, std::string_view keyword) {
  if (expression.find('|') != std::string_view::npos) return true;
  std::string fixed;
  for (size_t i = 0; i < expression.size(); ++i) {
    const char c = expression[i];
    if (std::strchr("?*+[]()\\", c)) {
      if ((c == '*') && !fixed.empty()) fixed.pop_back();  // the letter before '*' may be absent
      break;
    }
    fixed += ascii::Upper(c);
  }
  const size_t n = std::min(fixed.size(), keyword.size());
  return fixed.compare(0, n, keyword.substr(0, n)) == 0;
}

std::string Hex4(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", v & 0xFFFF);
  return text;
}

std::string Describe(const UsbIdentity& usb) {
  if (!usb.known) return {};
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", usb.vendor & 0xFFFF, usb.product & 0xFFFF);
  std::string text = std::string("USB ") + ids;
  if (!usb.serial.empty()) text += " serial " + usb.serial;
  std::string name = usb.manufacturer;
  if (!usb.productName.empty()) name += (name.empty() ? "" : " ") + usb.productName;
  if (!name.empty()) text += " (" + name + ")";
  return text;
}

// "*IDN?" on a resource of this layer, within `timeoutMs`; empty when it does not answer.
std::string AskIdentity(const std::string& resource, int32_t timeoutMs, bool lineEnds) {
  com::ComPtr<IResourceManager> manager;
  if (FAILED(CreateResourceManager(manager.put()))) return {};
  com::Bstr name(resource);
  com::Bstr options("Timeout = " + std::to_string(timeoutMs));
  com::ComPtr<IVisaSession> session;
  if (FAILED(manager->Open(name.get(), NO_LOCK, timeoutMs, options.get(), session.put()))) {
    SetErrorInfo(0, nullptr);
    return {};
  }
  com::ComPtr<IMessage> message;
  std::string reply;
  if (SUCCEEDED(session->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.put())))) {
    // A socket or a serial line has no END: the line feed ends the reply.
    if (lineEnds) message->put_TerminationCharacterEnabled(VARIANT_TRUE);
    com::Bstr query(std::string_view("*IDN?\n"));
    com::Bstr text;
    LONG written = 0;
    if (SUCCEEDED(message->WriteString(query.get(), &written)) &&
        SUCCEEDED(message->ReadString(1024, text.put())))
      reply = text.utf8();
  }
  session->Close();
  SetErrorInfo(0, nullptr);
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  return reply;
}

std::vector<in_addr> Vxi11Targets(const DiscoveryOptions& options) {
  std::vector<std::string> names = options.vxi11Targets;
  if (names.empty()) names = Split(std::getenv("VMK40XX_VXI11_BROADCAST"), ',');
  std::vector<in_addr> targets;
  for (const std::string& n : names) {
    in_addr a{};
    if (::inet_pton(AF_INET, n.c_str(), &a) == 1) targets.push_back(a);
  }
  if (!names.empty()) return targets;
  // Every IPv4 network this machine is on, and the machine itself.
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  targets.push_back(loopback);
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
          !(i->ifa_flags & IFF_BROADCAST) || !i->ifa_broadaddr)
        continue;
      targets.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr);
    }
    ::freeifaddrs(list);
  }
  return targets;
}

}  // namespace

HRESULT MatchResourceExpression(std::string_view expression, std::string_view resource,
                                bool* matches, std::string* why) {
  std::regex re;
  if (HRESULT hr = Compile(expression, &re, why); FAILED(hr)) return hr;
  *matches = std::regex_match(resource.begin(), resource.end(), re);
  return S_OK;
}

HRESULT FindResources(std::string_view expression, const DiscoveryOptions& options,
                      std::vector<FoundResource>* found, std::string* why) {
  found->clear();
  std::regex re;
  if (HRESULT hr = Compile(expression, &re, why); FAILED(hr)) return hr;
  auto wanted = [&](const std::string& resource) { return std::regex_match(resource, re); };

  if (MayMatch(expression, "ASRL")) {
    std::vector<std::string> given = options.serialDevices;
    for (const std::string& d : Split(std::getenv("VMK40XX_ASRL_DEVICES"), ':')) given.push_back(d);
    for (const ClassDevice& port : ListSerialPorts()) {
      const std::string resource = "ASRL/dev/" + port.name + "::INSTR";
      if (wanted(resource)) found->push_back({resource, {}, Describe(port.usb)});
    }
    for (const std::string& path : given) {
      const std::string resource = "ASRL" + path + "::INSTR";
      if (!wanted(resource)) continue;
      found->push_back({resource,
                        options.identify ? AskIdentity(resource, options.identifyMs, true) : "",
                        "serial device given by name"});
    }
  }
  if (MayMatch(expression, "USB")) {
    for (const ClassDevice& node : ListUsbtmc()) {
      // VISA names a USB instrument by its serial number; one without cannot be named.
      if (!node.usb.known || node.usb.serial.empty()) continue;
      std::string resource = "USB0::" + Hex4(node.usb.vendor) + "::" + Hex4(node.usb.product) +
                             "::" + node.usb.serial;
      if (node.usb.interfaceNumber > 0) resource += "::" + std::to_string(node.usb.interfaceNumber);
      resource += "::INSTR";
      if (!wanted(resource)) continue;
      found->push_back({resource,
                        options.identify ? AskIdentity(resource, options.identifyMs, false) : "",
                        Describe(node.usb) + " on " + DevRoot() + "/" + node.name});
    }
  }
  if (MayMatch(expression, "TCPIP")) {
    for (const PortmapAnswer& a : PortmapSurvey(Vxi11Targets(options), kVxi11CoreProgram,
                                                kVxi11CoreVersion, options.waitMs)) {
      char host[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &a.from, host, sizeof host);
      const std::string resource = std::string("TCPIP0::") + host + "::inst0::INSTR";
      if (!wanted(resource)) continue;
      found->push_back({resource,
                        options.identify ? AskIdentity(resource, options.identifyMs, false) : "",
                        "VXI-11 server on port " + std::to_string(a.port)});
    }
  }
  if (found->empty()) {
    *why = "no instrument matches \"" + std::string(expression) + "\"";
    return E_VISA_RSRC_NFOUND;
  }
  return S_OK;
}

}  // namespace vmk::visa

extern "C" VMK40XX_EXPORT int32_t vmk40xx_find_resources(const char* expression, char* list,
                                                        int32_t size, int32_t* count,
                                                        int32_t* required) {
  if (count) *count = 0;
  if (required) *required = 1;
  if (!expression || size < 0 || (size > 0 && !list)) return E_INVALIDARG;
  if (size > 0) list[0] = '\0';
  try {
    std::vector<vmk::visa::FoundResource> found;
    std::string why;
    const HRESULT hr = vmk::visa::FindResources(expression, {}, &found, &why);
    if (FAILED(hr)) return hr;
    std::string text;
    size_t fits = 0;  // the whole lines that fit with the NUL
    int32_t fitting = 0;
    for (const auto& f : found) {
      text += f.resource + "\t" + f.idn + "\t" + f.description + "\n";
      if (text.size() + 1 <= static_cast<size_t>(size)) {
        fits = text.size();
        ++fitting;
      }
    }
    if (required) *required = static_cast<int32_t>(text.size() + 1);
    if (count) *count = static_cast<int32_t>(found.size());
    if (size > 0) {
      std::memcpy(list, text.data(), fits);
      list[fits] = '\0';
    }
    if (fitting < static_cast<int32_t>(found.size())) {
      if (count) *count = fitting;
      return S_VISA_MAX_CNT;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
