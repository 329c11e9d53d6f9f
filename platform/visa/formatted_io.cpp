// IFormattedIO488: strings, numbers, lists and IEEE 488.2 blocks over a message session. It keeps
// no buffer of its own: it reads from and writes to the session's, so raw I/O on the same session
// sees every byte in order.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/visa/message_session.h"
#include "platform/visa/number_text.h"
#include "platform/visa/visa.h"

namespace vmk::visa {
namespace {

constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value of a scalar VARIANT as a double, or false for types that hold no number.
bool VariantNumber(const VARIANT& v, double* out) {
  switch (v.vt) {
    case VT_I1:
      *out = static_cast<int8_t>(v.bVal);
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_UI2:
      *out = static_cast<USHORT>(v.iVal);
      return true;
    case VT_I4:
    case VT_INT:
      *out = v.lVal;
      return true;
    case VT_UI4:
    case VT_UINT:
      *out = static_cast<ULONG>(v.lVal);
      return true;
    case VT_I8:
      *out = static_cast<double>(v.llVal);
      return true;
    case VT_UI8:
      *out = static_cast<double>(static_cast<uint64_t>(v.llVal));
      return true;
    case VT_R4:
      *out = v.fltVal;
      return true;
    case VT_R8:
      *out = v.dblVal;
      return true;
    case VT_BOOL:
      *out = v.boolVal ? 1 : 0;
      return true;
    case VT_BSTR: {
      const std::string text = com::BstrToUtf8(v.bstrVal);
      const size_t n = ParseNumber(text, out);
      if (n == 0) return false;
      for (size_t i = n; i < text.size(); ++i)
        if (!IsBlank(text[i])) return false;
      return true;
    }
    default:
      return false;
  }
}

bool IsIntegerVt(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// An integral value within [lo, hi]; fractions are cut toward zero, as instruments read them.
bool ToInteger(double v, double lo, double hi, int64_t* out) {
  if (!std::isfinite(v)) return false;
  const double t = std::trunc(v);
  if (t < lo || t > hi) return false;
  *out = static_cast<int64_t>(t);
  return true;
}

HRESULT FormatElement(const VARIANT& v, LONG type, std::string* out) {
  if (type == ASCIIType_BSTR || (type == ASCIIType_Any && v.vt == VT_BSTR)) {
    if (v.vt == VT_BSTR) {
      *out = com::BstrToUtf8(v.bstrVal);
      return S_OK;
    }
    type = ASCIIType_Any;
  }
  double d = 0;
  if (!VariantNumber(v, &d)) return DISP_E_TYPEMISMATCH;
  int64_t i = 0;
  switch (type) {
    case ASCIIType_I2:
      if (!ToInteger(d, -32768, 32767, &i)) return DISP_E_OVERFLOW;
      *out = FormatInteger(i);
      return S_OK;
    case ASCIIType_I4:
      if (!ToInteger(d, -2147483648.0, 2147483647.0, &i)) return DISP_E_OVERFLOW;
      *out = FormatInteger(i);
      return S_OK;
    case ASCIIType_UI1:
      if (!ToInteger(d, 0, 255, &i)) return DISP_E_OVERFLOW;
      *out = FormatInteger(i);
      return S_OK;
    case ASCIIType_R4:
      *out = FormatFloat(static_cast<float>(d));
      return S_OK;
    case ASCIIType_R8:
      *out = FormatDouble(d);
      return S_OK;
    case ASCIIType_Any:
      if (IsIntegerVt(v.vt)) {
        *out = v.vt == VT_I8 ? FormatInteger(v.llVal) : FormatInteger(static_cast<int64_t>(d));
      } else if (v.vt == VT_R4) {
        *out = FormatFloat(v.fltVal);
      } else {
        *out = FormatDouble(d);
      }
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

// A VARIANT viewing element `i` of an array (no ownership taken).
VARIANT ElementView(SAFEARRAY* psa, ULONG i) {
  VARIANT v;
  VariantInit(&v);
  const BYTE* at = static_cast<const BYTE*>(psa->pvData) + size_t{i} * psa->cbElements;
  if (psa->vt == VT_VARIANT) return *reinterpret_cast<const VARIANT*>(at);
  v.vt = psa->vt;
  std::memcpy(&v.llVal, at, std::min<size_t>(psa->cbElements, sizeof v.llVal));
  return v;
}

SAFEARRAY* ArrayOf(const VARIANT& v) {
  if (v.vt & VT_BYREF) return (v.vt & VT_ARRAY) && v.pparray ? *v.pparray : nullptr;
  return (v.vt & VT_ARRAY) ? v.parray : nullptr;
}

size_t BinarySize(LONG type) {
  switch (type) {
    case BinaryType_I2:
      return 2;
    case BinaryType_I4:
      return 4;
    case BinaryType_R4:
      return 4;
    case BinaryType_R8:
      return 8;
    case BinaryType_UI1:
      return 1;
    default:
      return 0;
  }
}

VARTYPE AsciiVt(LONG type) {
  switch (type) {
    case ASCIIType_I2:
      return VT_I2;
    case ASCIIType_I4:
      return VT_I4;
    case ASCIIType_R4:
      return VT_R4;
    case ASCIIType_R8:
      return VT_R8;
    case ASCIIType_BSTR:
      return VT_BSTR;
    case ASCIIType_Any:
      return VT_VARIANT;
    case ASCIIType_UI1:
      return VT_UI1;
    default:
      return VT_EMPTY;
  }
}

// Stores `d` (or `text` for strings) as a VARIANT of the ASCII type.
HRESULT MakeValue(LONG type, double d, bool numeric, std::string_view text, VARIANT* out) {
  VariantInit(out);
  int64_t i = 0;
  switch (type) {
    case ASCIIType_I2:
      if (!numeric || !ToInteger(d, -32768, 32767, &i)) return DISP_E_OVERFLOW;
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(i);
      return S_OK;
    case ASCIIType_I4:
      if (!numeric || !ToInteger(d, -2147483648.0, 2147483647.0, &i)) return DISP_E_OVERFLOW;
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(i);
      return S_OK;
    case ASCIIType_UI1:
      if (!numeric || !ToInteger(d, 0, 255, &i)) return DISP_E_OVERFLOW;
      out->vt = VT_UI1;
      out->bVal = static_cast<BYTE>(i);
      return S_OK;
    case ASCIIType_R4:
      if (!numeric) return DISP_E_TYPEMISMATCH;
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(d);
      return S_OK;
    case ASCIIType_R8:
      if (!numeric) return DISP_E_TYPEMISMATCH;
      out->vt = VT_R8;
      out->dblVal = d;
      return S_OK;
    case ASCIIType_Any:
      if (numeric) {
        out->vt = VT_R8;
        out->dblVal = d;
        return S_OK;
      }
      [[fallthrough]];
    case ASCIIType_BSTR:
      out->bstrVal = com::Utf8ToBstr(text);
      if (!out->bstrVal) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

class CFormattedIO488 final : public ComClass<IFormattedIO488> {
 public:
  std::span<const InterfaceEntry> Interfaces() override {
    static const InterfaceEntry kTable[] = {
        {&IID_IFormattedIO488, InterfaceOf<CFormattedIO488, IFormattedIO488>}};
    return kTable;
  }

  HRESULT get_IO(IMessage** ppVal) override {
    if (!ppVal) return E_POINTER;
    std::lock_guard lock(bindMutex_);
    *ppVal = io_.get();
    if (*ppVal) (*ppVal)->AddRef();
    return S_OK;
  }

  HRESULT putref_IO(IMessage* pVal) override {
    com::ComPtr<CMessageSession> session;
    if (pVal) {
      IMessage* core = nullptr;
      if (FAILED(pVal->QueryInterface(IID_VmkMessageSession, reinterpret_cast<void**>(&core))))
        return VisaError(E_INVALIDARG, IID_IFormattedIO488,
                         "the formatted-I/O object can only be bound to a session of this I/O "
                         "library");
      session = com::ComPtr<CMessageSession>::Attach(static_cast<CMessageSession*>(core));
    }
    std::lock_guard lock(bindMutex_);
    io_ = pVal;
    session_ = std::move(session);
    return S_OK;
  }

  HRESULT get_InstrumentBigEndian(VARIANT_BOOL* pVal) override {
    if (!pVal) return E_POINTER;
    *pVal = bigEndian_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT put_InstrumentBigEndian(VARIANT_BOOL val) override {
    bigEndian_ = val != VARIANT_FALSE;
    return S_OK;
  }

  HRESULT WriteString(BSTR data, VARIANT_BOOL flushAndEND) override {
    return Guard([&](CMessageSession& s) {
      s.WriteBuffer().append(com::BstrToUtf8(data));
      return AfterAppend(s, flushAndEND);
    });
  }

  HRESULT WriteNumber(VARIANT data, LONG type, VARIANT_BOOL flushAndEND) override {
    return Guard([&](CMessageSession& s) {
      std::string text;
      const VARIANT& v =
          (data.vt == (VT_BYREF | VT_VARIANT) && data.pvarVal) ? *data.pvarVal : data;
      if (HRESULT hr = FormatElement(v, type, &text); FAILED(hr))
        return VisaError(hr, IID_IFormattedIO488,
                         "WriteNumber: the value is not a number of "
                         "the requested type");
      s.WriteBuffer().append(text);
      return AfterAppend(s, flushAndEND);
    });
  }

  HRESULT WriteList(VARIANT* data, LONG type, BSTR listSeparator,
                    VARIANT_BOOL flushAndEND) override {
    if (!data) return E_POINTER;
    return Guard([&](CMessageSession& s) {
      SAFEARRAY* psa = ArrayOf(*data);
      if (!psa || psa->cDims != 1)
        return VisaError(E_INVALIDARG, IID_IFormattedIO488, "WriteList: the data is not an array");
      const std::string sep = listSeparator ? com::BstrToUtf8(listSeparator) : ",";
      std::string text;
      for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
        std::string element;
        if (HRESULT hr = FormatElement(ElementView(psa, i), type, &element); FAILED(hr))
          return VisaError(
              hr, IID_IFormattedIO488,
              "WriteList: element " + std::to_string(i) + " is not a number of the requested type");
        if (i) text += sep;
        text += element;
      }
      s.WriteBuffer().append(text);
      return AfterAppend(s, flushAndEND);
    });
  }

  HRESULT WriteIEEEBlock(BSTR command, VARIANT data, VARIANT_BOOL flushAndEND) override {
    return Guard([&](CMessageSession& s) {
      SAFEARRAY* psa = ArrayOf(data);
      const VARTYPE vt = psa ? psa->vt : VARTYPE{VT_EMPTY};
      const size_t size = psa && psa->cDims == 1 ? psa->cbElements : 0;
      if (!(vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_R8 || vt == VT_UI1 ||
            vt == VT_I1 || vt == VT_UI2 || vt == VT_UI4))
        return VisaError(E_INVALIDARG, IID_IFormattedIO488,
                         "WriteIEEEBlock: the data must be an array of numbers");
      const size_t bytes = size * psa->rgsabound[0].cElements;
      const std::string length = std::to_string(bytes);
      std::string block = com::BstrToUtf8(command);
      block += '#';
      block += static_cast<char>('0' + length.size());
      block += length;
      const size_t at = block.size();
      block.append(static_cast<const char*>(psa->pvData), bytes);
      if (size > 1 && bigEndian_ == (std::endian::native == std::endian::little))
        for (size_t e = at; e < block.size(); e += size) std::reverse(&block[e], &block[e] + size);
      // A socket or a serial line has no END: the terminator after the block ends the message.
      if (flushAndEND) block += static_cast<char>(s.TermChar());
      s.WriteBuffer().append(block);
      return AfterAppend(s, flushAndEND);
    });
  }

  HRESULT ReadString(BSTR* pRetString) override {
    if (!pRetString) return E_POINTER;
    *pRetString = nullptr;
    return Guard([&](CMessageSession& s) {
      std::string text;
      ReadEnd why;
      HRESULT hr =
          s.ReadMessage(s.ReadBufferSize(), s.TermStop(), &text, &why, IID_IFormattedIO488);
      if (FAILED(hr)) return hr;
      *pRetString = com::Utf8ToBstr(text);
      return *pRetString ? S_OK : E_OUTOFMEMORY;
    });
  }

  HRESULT ReadNumber(LONG type, VARIANT_BOOL flushToEND, VARIANT* pData) override {
    if (!pData) return E_POINTER;
    VariantInit(pData);
    if (AsciiVt(type) == VT_EMPTY) return E_INVALIDARG;
    return Guard([&](CMessageSession& s) {
      std::string text;
      ReadEnd why = ReadEnd::Count;
      size_t at = 0;
      // What an earlier ReadNumber left may be only separators and the terminator: the number
      // then is in the next message.
      for (;;) {
        HRESULT hr =
            s.ReadMessage(s.ReadBufferSize(), s.TermStop(), &text, &why, IID_IFormattedIO488);
        if (FAILED(hr)) return hr;
        at = 0;
        while (at < text.size() && (IsBlank(text[at]) || text[at] == ',' || text[at] == ';')) ++at;
        if (at < text.size() || why == ReadEnd::Count) break;
      }
      double d = 0;
      size_t used = ParseNumber(std::string_view(text).substr(at), &d);
      const bool numeric = used != 0;
      if (!numeric) {
        size_t e = at;
        while (e < text.size() && !IsBlank(text[e]) && text[e] != ',' && text[e] != ';') ++e;
        used = e - at;
        if (type != ASCIIType_BSTR && type != ASCIIType_Any) {
          if (!flushToEND)
            s.Unread(text);
          else
            FlushRest(s, why);
          return VisaError(E_VISA_INV_FMT, IID_IFormattedIO488,
                           "ReadNumber: the reply \"" + std::string(TrimBlanks(text)) +
                               "\" does not start with a number");
        }
      }
      const std::string token = text.substr(at, used);
      const std::string rest = text.substr(at + used);
      if (flushToEND)
        FlushRest(s, why);
      else
        s.Unread(rest);
      if (HRESULT hr = MakeValue(type, d, numeric, token, pData); FAILED(hr))
        return VisaError(hr, IID_IFormattedIO488,
                         "ReadNumber: \"" + token + "\" does not fit the requested type");
      return S_OK;
    });
  }

  HRESULT ReadList(LONG type, BSTR listSeparator, VARIANT* pData) override {
    if (!pData) return E_POINTER;
    VariantInit(pData);
    const VARTYPE vt = AsciiVt(type);
    if (vt == VT_EMPTY) return E_INVALIDARG;
    return Guard([&](CMessageSession& s) {
      std::string text;
      HRESULT hr = ReadWhole(s, &text);
      if (FAILED(hr)) return hr;
      const std::string seps =
          listSeparator && *listSeparator ? com::BstrToUtf8(listSeparator) : ",;";
      std::vector<std::string_view> items;
      const std::string_view all = TrimBlanks(text);
      for (size_t at = 0; !all.empty() && at <= all.size();) {
        const size_t e = std::min(all.find_first_of(seps, at), all.size());
        items.push_back(TrimBlanks(all.substr(at, e - at)));
        at = e + 1;
      }
      SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(items.size()));
      if (!psa) return E_OUTOFMEMORY;
      for (size_t i = 0; i < items.size(); ++i) {
        double d = 0;
        const size_t used = ParseNumber(items[i], &d);
        const bool numeric = used != 0 && used == items[i].size();
        VARIANT v;
        hr = MakeValue(type, d, numeric, items[i], &v);
        if (FAILED(hr)) {
          SafeArrayDestroy(psa);
          return VisaError(hr, IID_IFormattedIO488,
                           "ReadList: element " + std::to_string(i) + " \"" +
                               std::string(items[i]) + "\" is not a number of the requested type");
        }
        LONG index = static_cast<LONG>(i);
        // Stores a copy: the BSTR of `v` is freed with it.
        hr = SafeArrayPutElement(psa, &index,
                                 vt == VT_VARIANT ? static_cast<void*>(&v)
                                 : vt == VT_BSTR  ? static_cast<void*>(v.bstrVal)
                                                  : static_cast<void*>(&v.llVal));
        VariantClear(&v);
        if (FAILED(hr)) {
          SafeArrayDestroy(psa);
          return hr;
        }
      }
      pData->vt = VT_ARRAY | vt;
      pData->parray = psa;
      return S_OK;
    });
  }

  HRESULT ReadIEEEBlock(LONG type, VARIANT_BOOL seekToBlock, VARIANT_BOOL flushToEND,
                        VARIANT* pData) override {
    if (!pData) return E_POINTER;
    VariantInit(pData);
    const size_t size = BinarySize(type);
    if (size == 0) return E_INVALIDARG;
    return Guard([&](CMessageSession& s) {
      std::string c;
      HRESULT hr;
      for (;;) {
        if (FAILED(hr = s.ReadExact(1, &c, IID_IFormattedIO488))) return hr;
        if (c[0] == '#') break;
        if (!seekToBlock && !IsBlank(c[0])) {
          s.Unread(c);
          return VisaError(E_VISA_INV_FMT, IID_IFormattedIO488,
                           "ReadIEEEBlock: the reply does not start with a block header (#)");
        }
      }
      if (FAILED(hr = s.ReadExact(1, &c, IID_IFormattedIO488))) return hr;
      std::string data;
      if (c[0] == '0') {
        // An indefinite block runs to the final line feed (sent with END where the bus has one).
        ReadEnd why;
        std::string part;
        do {
          if (FAILED(hr = s.ReadMessage(kUnlimited, '\n', &part, &why, IID_IFormattedIO488)))
            return hr;
          data += part;
        } while (why == ReadEnd::Count);
        if (!data.empty() && data.back() == '\n') data.pop_back();
      } else if (c[0] >= '1' && c[0] <= '9') {
        std::string digits;
        if (FAILED(hr = s.ReadExact(static_cast<size_t>(c[0] - '0'), &digits, IID_IFormattedIO488)))
          return hr;
        size_t length = 0;
        for (char d : digits) {
          if (d < '0' || d > '9')
            return VisaError(E_VISA_INV_FMT, IID_IFormattedIO488,
                             "ReadIEEEBlock: the block length \"" + digits + "\" is not a number");
          length = length * 10 + static_cast<size_t>(d - '0');
        }
        if (FAILED(hr = s.ReadExact(length, &data, IID_IFormattedIO488))) return hr;
        if (flushToEND) {
          // The terminator after the block. A device that sends none only costs a time-out here,
          // and the block itself is already complete.
          std::string rest;
          ReadEnd why;
          if (FAILED(s.ReadMessage(kUnlimited, s.TermChar(), &rest, &why, IID_IFormattedIO488)))
            SetErrorInfo(0, nullptr);
        }
      } else {
        return VisaError(E_VISA_INV_FMT, IID_IFormattedIO488,
                         "ReadIEEEBlock: \"#" + c + "\" is not a block header");
      }
      if (data.size() % size != 0)
        return VisaError(E_VISA_INV_FMT, IID_IFormattedIO488,
                         "ReadIEEEBlock: " + std::to_string(data.size()) +
                             " bytes are not a whole number of " + std::to_string(size) +
                             "-byte elements");
      if (size > 1 && bigEndian_ == (std::endian::native == std::endian::little))
        for (size_t e = 0; e < data.size(); e += size) std::reverse(&data[e], &data[e] + size);
      const VARTYPE vt = static_cast<VARTYPE>(type);
      SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(data.size() / size));
      if (!psa) return E_OUTOFMEMORY;
      if (!data.empty()) std::memcpy(psa->pvData, data.data(), data.size());
      pData->vt = VT_ARRAY | vt;
      pData->parray = psa;
      return S_OK;
    });
  }

  HRESULT FlushWrite(VARIANT_BOOL sendEND) override {
    return Guard([&](CMessageSession& s) {
      return s.WriteBuffer().empty() ? S_OK
                                     : s.Send({}, sendEND != VARIANT_FALSE, IID_IFormattedIO488);
    });
  }

  HRESULT FlushRead() override {
    return Guard([&](CMessageSession& s) {
      s.DiscardInput();
      return S_OK;
    });
  }

  HRESULT SetBufferSize(LONG mask, LONG size) override {
    if (size <= 0)
      return VisaError(E_INVALIDARG, IID_IFormattedIO488,
                       "SetBufferSize: the size must be at least 1 byte");
    return Guard([&](CMessageSession& s) {
      if (mask & IO_IN_BUF) s.SetReadBufferSize(static_cast<size_t>(size));
      if (mask & IO_OUT_BUF) s.SetWriteBufferSize(static_cast<size_t>(size));
      return S_OK;
    });
  }

 private:
  // Runs `body` on the bound session under its lock; no exception leaves.
  template <class Body>
  HRESULT Guard(Body&& body) {
    com::ComPtr<CMessageSession> session;
    {
      std::lock_guard lock(bindMutex_);
      session = session_;
    }
    if (!session)
      return VisaError(E_FAIL, IID_IFormattedIO488,
                       "the formatted-I/O object is not bound to a session");
    try {
      std::lock_guard lock(session->Lock());
      return body(*session.get());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  HRESULT AfterAppend(CMessageSession& s, VARIANT_BOOL flushAndEND) {
    if (flushAndEND) return s.Send({}, true, IID_IFormattedIO488);
    if (s.WriteBuffer().size() >= s.WriteBufferSize())
      return s.Send({}, false, IID_IFormattedIO488);
    return S_OK;
  }

  // The rest of a message whose start was read with `why`.
  void FlushRest(CMessageSession& s, ReadEnd why) {
    if (why != ReadEnd::Count) return;
    std::string rest;
    while (SUCCEEDED(
               s.ReadMessage(s.ReadBufferSize(), s.TermStop(), &rest, &why, IID_IFormattedIO488)) &&
           why == ReadEnd::Count) {
    }
  }

  HRESULT ReadWhole(CMessageSession& s, std::string* text) {
    std::string part;
    ReadEnd why;
    do {
      if (HRESULT hr =
              s.ReadMessage(s.ReadBufferSize(), s.TermStop(), &part, &why, IID_IFormattedIO488);
          FAILED(hr))
        return hr;
      *text += part;
    } while (why == ReadEnd::Count);
    return S_OK;
  }

  std::mutex bindMutex_;
  com::ComPtr<IMessage> io_;
  com::ComPtr<CMessageSession> session_;
  std::atomic<bool> bigEndian_{true};
};

}  // namespace

HRESULT CreateFormattedIO488(IFormattedIO488** ppFormattedIO) {
  if (!ppFormattedIO) return E_POINTER;
  *ppFormattedIO = new (std::nothrow) CFormattedIO488();
  return *ppFormattedIO ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vmk::visa
