// Opening sessions of the VISA layer and reading what a failure left behind, for the tests.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/visa/visa.h"
#include "vmk40xx/visacom.h"

namespace vmk::test {

inline HRESULT OpenMessage(std::string_view resource, com::ComPtr<IMessage>* out,
                           std::string_view options = {}) {
  com::ComPtr<IResourceManager> rm;
  HRESULT hr = visa::CreateResourceManager(rm.put());
  if (FAILED(hr)) return hr;
  com::Bstr name(resource), opts(options);
  com::ComPtr<IVisaSession> session;
  hr = rm->Open(name.get(), NO_LOCK, 2000, opts.get(), session.put());
  if (FAILED(hr)) return hr;
  return session->QueryInterface(IID_IMessage, reinterpret_cast<void**>(out->put()));
}

// The description of the thread's COM error information, which is taken off the thread.
inline std::string TakeErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr text;
  info->GetDescription(text.put());
  return text.utf8();
}

inline HRESULT WriteText(IMessage* m, std::string_view text) {
  com::Bstr b(text);
  LONG n = 0;
  return m->WriteString(b.get(), &n);
}

inline HRESULT ReadText(IMessage* m, LONG count, std::string* out) {
  com::Bstr b;
  const HRESULT hr = m->ReadString(count, b.put());
  *out = b.utf8();
  return hr;
}

}  // namespace vmk::test
