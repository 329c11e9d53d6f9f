// The front-panel display on the driver root: on or off, the halves of the dual models, and a
// text message; and the quoted-string handling that the display text and the memory names share.
#pragma once

#include <string>
#include <string_view>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_object.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

class DisplayFacet final : public Facet<IVelmoraK40xxDisplay, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT Clear() override;
  HRESULT get_Enabled(VARIANT_BOOL* val) override;
  HRESULT put_Enabled(VARIANT_BOOL val) override;
  HRESULT get_Mode(VelmoraK40xxDisplayModeEnum* val) override;
  HRESULT put_Mode(VelmoraK40xxDisplayModeEnum val) override;
  HRESULT get_Text(BSTR* val) override;
  HRESULT put_Text(BSTR val) override;
};

// A string the instrument sent: surrounding blanks trimmed; a reply in double quotes loses them
// and has its doubled quotes made single again; any other reply loses every double quote.
std::string UnquoteReply(std::string_view reply);

// Refuses, with the invalid-value error, caller text that holds a line feed, a carriage return or
// a NUL: the instrument, or a transport on the way, would take it for the end of the command and
// run the rest as a command of its own.
// Caller text as an error message shows it: a NUL written as \0, so that the message does not
// end inside the value.
std::string ShownInError(std::string_view text);

HRESULT CheckCommandText(CNode& node, std::string_view method, std::string_view param,
                         const OLECHAR* text);

}  // namespace vmk
