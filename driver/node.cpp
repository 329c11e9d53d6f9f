#include "driver/node.h"

#include "driver/driver.h"
#include "io/driver_io_manager.h"
#include "services/simulation.h"
#include "vmk40xx/errors.h"

namespace vmk {

CNode::CNode(const char* className, std::string name)
    : name_(std::move(name)), className_(className) {
  io_.SetErrorManager(&errors_);
}

CNode::~CNode() = default;

bool CNode::SessionOpen() {
  CDriver* root = Root();
  return root && root->Initialized();
}

bool CNode::Simulating() {
  CDriver* root = Root();
  return root && root->Flags().simulate;
}

bool CNode::RangeChecking() {
  CDriver* root = Root();
  return root && root->Flags().rangeCheck;
}

std::string CNode::GetModel() {
  return SessionOpen() ? Root()->Model() : std::string();
}

bool CNode::IsSupportedModel() {
  return SessionOpen() && Models().IsKnownModel(Root()->Model());
}

bool CNode::IsFamily(std::string_view family) {
  return SessionOpen() && Models().IsModelInFamily(Root()->Model(), family);
}

bool CNode::IsModel(std::string_view model) {
  return SessionOpen() && Root()->Model() == model;
}

bool CNode::IsModelInFamily(std::string_view model, std::string_view family) {
  return Models().IsModelInFamily(model, family);
}

CNode::Scope::Scope(CNode& n, const Member& m)
    : node(n), guard(*n.lock_), savedIid(n.errors_.InterfaceId()) {
  node.calls_.push_back({node.className_, m.iface, m.name});
  node.errors_.SetInterfaceId(*m.iid);
}

CNode::Scope::~Scope() {
  node.errors_.SetInterfaceId(savedIid);
  node.calls_.pop_back();
}

CNode::ModelScope::ModelScope(CNode& n)
    : node(n), trace(n.Root() ? n.Root()->MethodTrace() : nullptr) {
  if (trace) trace->EnterMethod(node.calls_.back());
  node.io_.PushModel(node.GetModel());
}

CNode::ModelScope::~ModelScope() {
  node.io_.PopModel();
  if (trace) trace->LeaveMethod(node.calls_.back(), result);
}

HRESULT CNode::Enter(const Member& m, std::initializer_list<const void*> pointers) {
  if (m.needsSession && !SessionOpen()) return errors_.ReportError(Msg::E_IVI_NOT_INITIALIZED);
  SetErrorInfo(0, nullptr);
  size_t i = 0;
  for (const void* p : pointers) {
    const char* name = i < 2 && m.checked[i] ? m.checked[i] : "val";
    if (!p) return errors_.ReportError(Msg::E_IVI_NULL_POINTER, {m.name, name});
    ++i;
  }
  return S_OK;
}

HRESULT CNode::CheckModel(const Member& m) {
  if (!m.powerSupply || Root()->IsMemberSupported(m)) return S_OK;
  return errors_.ReportError(Msg::E_VELMORAK40XX_MODEL_NOT_SUPPORTED, {m.name});
}

void CNode::PushCommand(std::string command) {
  io_.PushCommand(std::move(command));
}
void CNode::PopCommand() {
  io_.PopCommand();
}

HRESULT CNode::SimulatedRead(const Member& m, VARIANT_BOOL* val) {
  return vmk::SimulatedRead(cache_, m.simKey, GetModel(), val);
}
HRESULT CNode::SimulatedRead(const Member& m, int32_t* val) {
  return vmk::SimulatedRead(cache_, m.simKey, GetModel(), val);
}
HRESULT CNode::SimulatedRead(const Member& m, double* val) {
  return vmk::SimulatedRead(cache_, m.simKey, GetModel(), val);
}
HRESULT CNode::SimulatedRead(const Member& m, BSTR* val) {
  return vmk::SimulatedRead(cache_, m.simKey, GetModel(), val);
}
HRESULT CNode::SimulatedWrite(const Member& m, VARIANT_BOOL val) {
  return vmk::SimulatedWrite(cache_, m.simKey, val);
}
HRESULT CNode::SimulatedWrite(const Member& m, int32_t val) {
  return vmk::SimulatedWrite(cache_, m.simKey, val);
}
HRESULT CNode::SimulatedWrite(const Member& m, double val) {
  return vmk::SimulatedWrite(cache_, m.simKey, val);
}
HRESULT CNode::SimulatedWrite(const Member& m, BSTR val) {
  return vmk::SimulatedWrite(cache_, m.simKey, val);
}

}  // namespace vmk
