// Formatted-I/O reads over the scripted instrument: the first byte picks the read (a number, a
// list, a block sought or not, of each type), the rest is what the instrument sends. Any reply
// gives a value or a failure status, and a failed read hands back an empty variant.
#include <cstdlib>
#include <string>

#include "platform/visa/visa.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/script.h"

namespace {

using vmk::com::ComPtr;

struct Link {
  ComPtr<IMessage> message;
  ComPtr<IFormattedIO488> io;
};

Link Open() {
  Link link;
  ComPtr<IResourceManager> rm;
  ComPtr<IVisaSession> session;
  vmk::com::Bstr name("SCRIPT::fuzz::INSTR");
  vmk::com::Bstr none("");
  if (FAILED(vmk::visa::CreateResourceManager(rm.put())) ||
      FAILED(rm->Open(name.get(), 0, 2000, none.get(), session.put())) ||
      FAILED(session->QueryInterface(IID_IMessage, reinterpret_cast<void**>(link.message.put()))) ||
      FAILED(vmk::visa::CreateFormattedIO488(link.io.put())) ||
      FAILED(link.io->putref_IO(link.message.get())))
    std::abort();
  return link;
}

constexpr LONG kTypes[] = {ASCIIType_I2, ASCIIType_I4, ASCIIType_R4, ASCIIType_R8,
                           ASCIIType_BSTR, ASCIIType_Any, ASCIIType_UI1, 7};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return -1;
  const uint8_t pick = data[0];
  auto script = vmk::visa::Script::Install("fuzz");
  script->Reply(vmk::fuzz::Text(data + 1, size - 1), (pick & 0x80) != 0);
  {
    Link link = Open();
    link.io->put_InstrumentBigEndian((pick & 0x40) ? VARIANT_FALSE : VARIANT_TRUE);
    const LONG type = kTypes[pick & 7];
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = S_OK;
    switch ((pick >> 3) & 7) {
      case 0:
      case 1:
        hr = link.io->ReadNumber(type, (pick & 8) ? VARIANT_TRUE : VARIANT_FALSE, &v);
        break;
      case 2: {
        vmk::com::Bstr comma(",");
        hr = link.io->ReadList(type, comma.get(), &v);
        break;
      }
      case 3: {
        vmk::com::Bstr semicolon(";");
        hr = link.io->ReadList(type, semicolon.get(), &v);
        break;
      }
      case 4:
      case 5:
        hr = link.io->ReadIEEEBlock(type, (pick & 8) ? VARIANT_TRUE : VARIANT_FALSE, VARIANT_TRUE,
                                    &v);
        break;
      case 6: {
        vmk::com::Bstr text;
        hr = link.io->ReadString(text.put());
        if (FAILED(hr) && text.get()) std::abort();
        break;
      }
      default: {
        // Two reads in a row, the second after what the first left in the buffer.
        hr = link.io->ReadNumber(type, VARIANT_FALSE, &v);
        VariantClear(&v);
        hr = link.io->ReadIEEEBlock(type, VARIANT_TRUE, VARIANT_TRUE, &v);
        break;
      }
    }
    VariantClear(&v);
    vmk::fuzz::DropErrorInfo();
  }
  vmk::visa::Script::Uninstall("fuzz");
  return 0;
}
