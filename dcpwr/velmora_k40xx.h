// The creatable driver class: the root of a session with the inherent, IviDCPwr and driver
// interfaces, and the power-supply knowledge the session machinery asks for (models, identity,
// repeated-capability instances, the start-up step).
#pragma once

#include <memory>

#include "dcpwr/models.h"
#include "driver/driver.h"

namespace vmk {

class VelmoraK40xx final : public CDriver {
 public:
  // A new driver object with one reference owned by the caller.
  static VelmoraK40xx* Create();

  std::string_view DefaultModel() const override { return kDefaultModel; }
  std::string_view Description() const override;
  std::string_view Revision() const override;
  std::string_view Vendor() const override;
  std::string_view Identifier() const override;
  std::string_view GroupCapabilities() const override;
  std::span<const RepCapInfo> RepCaps() const override;
  std::vector<std::string> SupportedModelNames() const override;
  HRESULT MorePhysicalNames(const RepCapInfo& repCap, std::vector<std::string>* names) override;
  HRESULT CreateInstance(const char* repCap, const std::string& physicalName, int32_t index,
                         CComObject** object, CNode** node) override;
  HRESULT ApplyModelLimits() override;
  HRESULT ResetThroughInterface() override;

  const ModelLimits& Limits() const { return limits_; }
  // Selects the output channel before a per-output command on multi-output models; sends
  // nothing on single-output models. Its own result is not the member's result. The selection
  // goes through the calling node's I/O manager, so that its trace and errors are the member's;
  // unless `now`, it goes out with the command after it.
  HRESULT SelectOutput(CNode& node, int32_t index, bool now);

 private:
  struct Facets;
  VelmoraK40xx();
  ~VelmoraK40xx() override;
  std::span<const InterfaceEntry> Interfaces() override;

  std::unique_ptr<Facets> facets_;
  ModelLimits limits_;
};

}  // namespace vmk
