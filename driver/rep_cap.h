// A repeated-capability instance (an output, trigger or calibration of one output): a child node
// that answers session questions from its root and shares the root's lock and connection.
#pragma once

#include <string>

#include "driver/driver.h"
#include "driver/node.h"
#include "io/visa_com_io_provider.h"
#include "platform/com/com_object.h"
#include "platform/com/module.h"

namespace vmk {

class CRepCap : public CComObject, public CNode {
 public:
  // The root's connection goes with the root.
  void Detach() override {
    root_ = nullptr;
    state_ = nullptr;
    IO().SetProvider(nullptr);
  }

  const std::string& PhysicalName() const { return physicalName_; }
  // 0 for the first instance: the output the instance stands for.
  int32_t OutputIndex() const { return index_; }

 protected:
  CRepCap(const char* className, const char* repCap, CDriver* root, std::string physicalName,
          int32_t index)
      : CNode(className, repCap), physicalName_(std::move(physicalName)), index_(index) {
    root_ = root;
    state_ = &root->Session();
    lock_ = root->SessionLock();
    IO().SetProvider(&root->Provider());
    IO().SetTraceSink(&root->Session().trace);
    // An instance a client still holds keeps the library loaded, as the driver object does.
    com::ModuleLock();
  }
  ~CRepCap() override { com::ModuleUnlock(); }

 private:
  std::string physicalName_;
  int32_t index_;
};

}  // namespace vmk
