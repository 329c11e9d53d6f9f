#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/message_session.h"
#include "platform/visa/transport.h"
#include "platform/visa/visa.h"

namespace vmk::visa {
namespace {

HRESULT NotAvailable(const ResourceName& name, const OpenOptions&, int32_t,
                     std::unique_ptr<Transport>*, std::string* error) {
  *error = "\"" + name.text + "\": " + name.keyword + " " + name.resourceClass +
           " resources are not available in this I/O library (available: TCPIP sockets and "
           "VXI-11 instruments, ASRL serial ports, USB instruments through usbtmc, GPIB through "
           "linux-gpib)";
  return E_VISA_NSUP_OPER;
}

struct TransportEntry {
  std::string_view keyword;
  std::string_view resourceClass;
  TransportOpener open;
};

constexpr TransportEntry kTransports[] = {
    {"TCPIP", "SOCKET", OpenTcpSocket},  {"ASRL", "INSTR", OpenSerial},
    {"TCPIP", "INSTR", OpenVxi11},       {"USB", "INSTR", OpenUsbtmc},
    {"GPIB", "INSTR", OpenGpib},         {"VXI", "INSTR", NotAvailable},
    {"GPIB-VXI", "INSTR", NotAvailable},
};

class CResourceManager final : public ComClass<IResourceManager> {
 public:
  std::span<const InterfaceEntry> Interfaces() override {
    static const InterfaceEntry kTable[] = {
        {&IID_IResourceManager, InterfaceOf<CResourceManager, IResourceManager>}};
    return kTable;
  }

  HRESULT Open(BSTR resourceName, LONG mode, LONG openTimeout, BSTR optionString,
               IVisaSession** ppSession) override {
    if (!ppSession) return E_POINTER;
    *ppSession = nullptr;
    try {
      const std::string text = com::BstrToUtf8(resourceName);
      (void)mode;  // one process, one session per resource: locks have nothing to arbitrate
      ResourceName name;
      std::string error;
      HRESULT hr = ParseResourceName(text, &name, &error);
      if (FAILED(hr)) return VisaError(hr, IID_IResourceManager, error);
      OpenOptions options;
      if (FAILED(hr = ParseOptionString(com::BstrToUtf8(optionString), &options, &error)))
        return VisaError(hr, IID_IResourceManager, "\"" + text + "\": " + error);
      TransportOpener open = nullptr;
      for (const auto& t : kTransports)
        if (t.keyword == name.keyword && t.resourceClass == name.resourceClass) open = t.open;
      if (!open) open = RegisteredTransport(name.keyword, name.resourceClass);
      if (!open)
        return VisaError(E_VISA_NSUP_OPER, IID_IResourceManager,
                         "\"" + text + "\": " + name.keyword + " " + name.resourceClass +
                             " resources are not available in this I/O library");
      std::unique_ptr<Transport> transport;
      if (FAILED(hr = open(name, options, openTimeout, &transport, &error)))
        return VisaError(hr, IID_IResourceManager, error);
      com::ComPtr<CMessageSession> session = com::ComPtr<CMessageSession>::Attach(
          new CMessageSession(std::move(transport), text, static_cast<SHORT>(name.board)));
      if (const std::string* t = options.Find("TIMEOUT")) {
        long ms = 0;
        try {
          ms = std::stol(*t);
        } catch (const std::exception&) {
          return VisaError(E_VISA_INV_SETUP, IID_IResourceManager,
                           "\"" + text + "\": Timeout = \"" + *t + "\" is not a number");
        }
        if (FAILED(hr = session->put_Timeout(static_cast<LONG>(ms)))) return hr;
      }
      *ppSession = session.Detach();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  HRESULT FindResources(BSTR expression, SAFEARRAY** pResources) override {
    if (!pResources) return E_POINTER;
    *pResources = nullptr;
    try {
      std::vector<FoundResource> found;
      std::string why;
      DiscoveryOptions options;
      options.identify = false;  // only the names are asked for
      const HRESULT hr = visa::FindResources(com::BstrToUtf8(expression), options, &found, &why);
      if (FAILED(hr)) return VisaError(hr, IID_IResourceManager, why);
      SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(found.size()));
      if (!psa) return E_OUTOFMEMORY;
      BSTR* items = static_cast<BSTR*>(psa->pvData);
      for (size_t i = 0; i < found.size(); ++i) items[i] = com::Utf8ToBstr(found[i].resource);
      *pResources = psa;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

struct RegisteredEntry {
  std::string keyword;
  std::string resourceClass;
  TransportOpener open;
};

struct Registered {
  std::mutex mutex;
  std::vector<RegisteredEntry> entries;
};

Registered& Registrations() {
  static Registered r;
  return r;
}

}  // namespace

void RegisterTransport(std::string_view keyword, std::string_view resourceClass,
                       TransportOpener open) {
  Registered& r = Registrations();
  std::lock_guard lock(r.mutex);
  for (RegisteredEntry& e : r.entries) {
    if (e.keyword == keyword && e.resourceClass == resourceClass) {
      e.open = open;
      return;
    }
  }
  r.entries.push_back({std::string(keyword), std::string(resourceClass), open});
}

TransportOpener RegisteredTransport(std::string_view keyword, std::string_view resourceClass) {
  Registered& r = Registrations();
  std::lock_guard lock(r.mutex);
  for (const RegisteredEntry& e : r.entries)
    if (e.keyword == keyword && e.resourceClass == resourceClass) return e.open;
  return nullptr;
}

std::string RegisteredKeywordOf(std::string_view head) {
  Registered& r = Registrations();
  std::lock_guard lock(r.mutex);
  std::string best;
  for (const RegisteredEntry& e : r.entries)
    if (e.keyword.size() > best.size() && head.substr(0, e.keyword.size()) == e.keyword)
      best = e.keyword;
  return best;
}

HRESULT CreateResourceManager(IResourceManager** ppManager) {
  if (!ppManager) return E_POINTER;
  *ppManager = new (std::nothrow) CResourceManager();
  return *ppManager ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vmk::visa
