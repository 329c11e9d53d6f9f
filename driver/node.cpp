#include "driver/node.h"

#include "driver/driver.h"
#include "platform/com/error_slot.h"
#include "vmk40xx/errors.h"

namespace vmk {

CNode::CNode(const char* className, const char* name) : className_(className), name_(name) {
  io_.SetErrorManager(&errors_);
}

CNode::~CNode() = default;

bool CNode::IsFamily(std::string_view family) const {
  return SessionOpen() && root_->ModelTable().IsModelInFamily(state_->model, family);
}

bool CNode::IsModelInFamily(std::string_view model, std::string_view family) const {
  return root_ && root_->ModelTable().IsModelInFamily(model, family);
}

HRESULT CNode::Refuse(const Member& m, int nullOut) {
  if (m.needsSession && !SessionOpen()) return errors_.ReportError(Msg::E_IVI_NOT_INITIALIZED);
  return errors_.ReportError(Msg::E_IVI_NULL_POINTER,
                             {m.Name(), m.params[static_cast<size_t>(nullOut)].name});
}

}  // namespace vmk
