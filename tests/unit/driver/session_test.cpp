// The driver as a client sees it: created through its class factory and driven through the
// public interfaces only.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace {

std::string Narrow(const OLECHAR* s) {
  std::string out;
  for (UINT i = 0, n = SysStringLen(const_cast<BSTR>(s)); i < n; ++i)
    out.push_back(static_cast<char>(s[i]));
  return out;
}

struct BstrArg {
  explicit BstrArg(const char16_t* s) : b(SysAllocString(s)) {}
  ~BstrArg() { SysFreeString(b); }
  operator BSTR() const { return b; }
  BSTR b;
};

// The thread's error information, taken off it: empty when there is none.
std::string TakeError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::string text = Narrow(d);
  SysFreeString(d);
  info->Release();
  return text;
}

IVelmoraK40xx* CreateDriver() {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(
      DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  IVelmoraK40xx* driver = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVelmoraK40xx, reinterpret_cast<void**>(&driver)),
            S_OK);
  factory->Release();
  return driver;
}

template <class T>
T* Query(IUnknown* u, REFIID iid) {
  T* p = nullptr;
  EXPECT_EQ(u->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
  return p;
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override { driver = CreateDriver(); }
  void TearDown() override {
    if (driver) driver->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
  }
  HRESULT Init(const char16_t* options, bool idQuery = false, bool reset = false,
               const char16_t* resource = u"GPIB0::5::INSTR") {
    BstrArg r(resource), o(options);
    return driver->Initialize(r, idQuery ? VARIANT_TRUE : VARIANT_FALSE,
                              reset ? VARIANT_TRUE : VARIANT_FALSE, o);
  }
  std::string Model() {
    IIviDriverIdentity* id = Query<IIviDriverIdentity>(driver, IID_IIviDriverIdentity);
    BSTR m = nullptr;
    EXPECT_EQ(id->get_InstrumentModel(&m), S_OK);
    std::string s = Narrow(m);
    SysFreeString(m);
    id->Release();
    return s;
  }
  IVelmoraK40xx* driver = nullptr;
};

TEST_F(Session, SimulatedSessionTakesItsModelFromDriverSetup) {
  EXPECT_EQ(Init(u"Simulate=true, DriverSetup=Model=K4301A"), S_OK);
  EXPECT_EQ(Model(), "K4301A");
  EXPECT_EQ(driver->Close(), S_OK);
}

TEST_F(Session, SimulationWithoutModelUsesTheDefaultAndKeepsAnEarlierModel) {
  ASSERT_EQ(Init(u"Simulate=true"), S_OK);
  EXPECT_EQ(Model(), "K4102A");
  IIviDriverOperation* op = Query<IIviDriverOperation>(driver, IID_IIviDriverOperation);
  BSTR name = nullptr;
  EXPECT_EQ(op->get_LogicalName(&name), S_OK);
  EXPECT_EQ(Narrow(name), "");
  SysFreeString(name);
  op->Release();
  ASSERT_EQ(driver->Close(), S_OK);

  ASSERT_EQ(Init(u"Simulate=true, DriverSetup=Model=K4301A"), S_OK);
  ASSERT_EQ(driver->Close(), S_OK);
  // Close keeps the flags and the model: the next session is simulated again, on K4301A.
  ASSERT_EQ(Init(u""), S_OK);
  EXPECT_EQ(Model(), "K4301A");
}

TEST_F(Session, AnUnknownOptionValueFailsWithItsText) {
  EXPECT_EQ(Init(u"Simulate=yes"), HRESULT(0x8004704Cu));
  EXPECT_EQ(TakeError(), "VelmoraK40xx: The yes value in the option string is unknown.");
  VARIANT_BOOL initialized = VARIANT_TRUE;
  EXPECT_EQ(driver->get_Initialized(&initialized), S_OK);
  EXPECT_EQ(initialized, VARIANT_FALSE);
}

TEST_F(Session, IdQueryRefusesAModelOutsideTheTable) {
  EXPECT_EQ(Init(u"Simulate=true, DriverSetup=Model=X1", true), E_IVI_ID_QUERY_FAILED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Instrument ID query failed.\r\nUnrecognized model: X1.");
  EXPECT_EQ(Init(u"Simulate=true, DriverSetup=Model=k4301a", true), E_IVI_ID_QUERY_FAILED);
  EXPECT_EQ(Init(u"Simulate=true, DriverSetup=Model=X1", false), S_OK);
  EXPECT_EQ(Model(), "X1");
}

TEST_F(Session, InitializeRefusesAnOpenSessionAndInterchangeChecking) {
  ASSERT_EQ(Init(u"Simulate=true"), S_OK);
  EXPECT_EQ(Init(u"Simulate=true, DriverSetup=Model=K4201A"), E_IVI_ALREADY_INITIALIZED);
  EXPECT_EQ(Model(), "K4102A");
  ASSERT_EQ(driver->Close(), S_OK);
  EXPECT_EQ(driver->Close(), E_IVI_NOT_INITIALIZED);

  EXPECT_EQ(Init(u"Simulate=true, InterchangeCheck=true"), E_IVI_BAD_OPTION_VALUE);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: The true value in the option string is unknown.\r\nInterchange check "
            "is not supported by the driver.");
  VARIANT_BOOL initialized = VARIANT_TRUE;
  driver->get_Initialized(&initialized);
  EXPECT_EQ(initialized, VARIANT_FALSE);
}

TEST_F(Session, ANullResourceIsAnInvalidValue) {
  BstrArg o(u"Simulate=true");
  EXPECT_EQ(driver->Initialize(nullptr, VARIANT_FALSE, VARIANT_FALSE, o), E_IVI_INVALID_VALUE);
  EXPECT_EQ(
      TakeError(),
      "VelmoraK40xx: Invalid value (0) for method Initialize, parameter bstrResourceDescriptor.");
}

TEST_F(Session, InherentFlagsFollowTheirPutRules) {
  ASSERT_EQ(Init(u"Simulate=true, RangeCheck=false"), S_OK);
  IIviDriverOperation* op = Query<IIviDriverOperation>(driver, IID_IIviDriverOperation);
  VARIANT_BOOL v = 0;
  op->get_Cache(&v);
  EXPECT_EQ(v, VARIANT_TRUE);
  op->get_RangeCheck(&v);
  EXPECT_EQ(v, VARIANT_FALSE);

  EXPECT_EQ(op->put_InterchangeCheck(VARIANT_TRUE), E_IVI_VALUE_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Does not support this class-compliant feature:  (enumeration) value "
            "VARIANT_TRUE passed as the value for parameter bInterchangeCheck in method "
            "put_InterchangeCheck.");
  EXPECT_EQ(op->put_InterchangeCheck(VARIANT_FALSE), S_OK);

  EXPECT_EQ(op->put_Simulate(VARIANT_FALSE), E_IVI_CANNOT_CHANGE_SIMULATION_STATE);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: The simulation state cannot be changed.");
  EXPECT_EQ(op->put_Simulate(VARIANT_TRUE), S_OK);
  EXPECT_EQ(op->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);  // simulating: nothing sent

  IIviDriverUtility* util = Query<IIviDriverUtility>(driver, IID_IIviDriverUtility);
  EXPECT_EQ(op->put_RangeCheck(VARIANT_TRUE), S_OK);
  EXPECT_EQ(util->ResetWithDefaults(), S_OK);
  op->get_RangeCheck(&v);
  EXPECT_EQ(v, VARIANT_FALSE);  // back to the value the session opened with
  util->Release();
  op->Release();
}

TEST_F(Session, NullPointersAndClosedSessionsAreRefusedInOrder) {
  IIviDriverOperation* op = Query<IIviDriverOperation>(driver, IID_IIviDriverOperation);
  IIviDriverUtility* util = Query<IIviDriverUtility>(driver, IID_IIviDriverUtility);
  // Closed: the session check comes before the pointer check.
  EXPECT_EQ(op->get_Cache(nullptr), E_IVI_NOT_INITIALIZED);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: A connection to the instrument has not been established.");
  BSTR msg = nullptr;
  EXPECT_EQ(util->SelfTest(nullptr, &msg), E_IVI_NOT_INITIALIZED);

  ASSERT_EQ(Init(u"Simulate=true"), S_OK);
  EXPECT_EQ(op->get_Cache(nullptr), E_IVI_NULL_POINTER);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Null pointer passed for method get_Cache, parameter val.");
  EXPECT_EQ(util->SelfTest(nullptr, &msg), E_IVI_NULL_POINTER);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Null pointer passed for method SelfTest, parameter TestResult.");
  LONG code = 7;
  EXPECT_EQ(util->ErrorQuery(&code, nullptr), E_IVI_NULL_POINTER);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Null pointer passed for method ErrorQuery, parameter ErrorMessage.");
  util->Release();
  op->Release();
}

TEST_F(Session, ACallClearsErrorInformationLeftByAnEarlierOne) {
  IIviDriverOperation* op = Query<IIviDriverOperation>(driver, IID_IIviDriverOperation);
  VARIANT_BOOL v;
  EXPECT_EQ(op->get_Cache(&v), E_IVI_NOT_INITIALIZED);
  ASSERT_EQ(Init(u"Simulate=true"), S_OK);
  EXPECT_EQ(TakeError(), "");
  op->Release();
}

TEST_F(Session, IdentityAndUtilityInSimulation) {
  IIviDriverIdentity* id = Query<IIviDriverIdentity>(driver, IID_IIviDriverIdentity);
  BSTR s = nullptr;
  EXPECT_EQ(id->get_Vendor(&s), S_OK);  // allowed before Initialize
  EXPECT_EQ(Narrow(s), "Velmora Technologies");
  SysFreeString(s);
  ASSERT_EQ(Init(u"Simulate=true"), S_OK);
  id->get_InstrumentFirmwareRevision(&s);
  EXPECT_EQ(Narrow(s), "Sim1.1.5.0");
  SysFreeString(s);
  id->get_SupportedInstrumentModels(&s);
  std::string models = Narrow(s);
  SysFreeString(s);
  EXPECT_EQ(models.substr(0, 14), "K4301A,K4101A,");
  EXPECT_NE(models.back(), ',');

  IIviDriverUtility* util = Query<IIviDriverUtility>(driver, IID_IIviDriverUtility);
  LONG result = 5;
  BSTR message = SysAllocString(u"stale");  // in/out: the driver frees what came in
  EXPECT_EQ(util->SelfTest(&result, &message), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Narrow(message), "Selftest passed");
  EXPECT_EQ(util->ErrorQuery(&result, &message), S_OK);
  EXPECT_EQ(Narrow(message), "No error.");
  SysFreeString(message);
  EXPECT_EQ(util->LockObject(), E_IVI_METHOD_NOT_SUPPORTED);
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Does not support this class-compliant feature: method LockObject");
  util->Release();
  id->Release();
}

TEST_F(Session, ErrorInformationStaysOnItsThread) {
  std::string seenOnOtherThread = "not run";
  std::thread([&] {
    IIviDriverOperation* op = Query<IIviDriverOperation>(driver, IID_IIviDriverOperation);
    VARIANT_BOOL v;
    op->get_Cache(&v);  // fails: not initialized
    op->Release();
    seenOnOtherThread = TakeError();
  }).join();
  EXPECT_EQ(seenOnOtherThread,
            "VelmoraK40xx: A connection to the instrument has not been established.");
  EXPECT_EQ(TakeError(), "");
}

TEST_F(Session, InterfacesAndIdentity) {
  IUnknown* a = Query<IUnknown>(driver, IID_IUnknown);
  IIviDCPwr* dcpwr = Query<IIviDCPwr>(driver, IID_IIviDCPwr);
  IUnknown* b = Query<IUnknown>(dcpwr, IID_IUnknown);
  EXPECT_EQ(a, b);
  ISupportErrorInfo* sei = Query<ISupportErrorInfo>(driver, IID_ISupportErrorInfo);
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IVelmoraK40xxSystem), S_OK);
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
  // A client holding IVelmoraK40xx reaches Initialize through it, and IIviDCPwr reaches the
  // same session.
  BstrArg r(u"GPIB0::5::INSTR"), o(u"Simulate=true");
  EXPECT_EQ(dcpwr->Initialize(r, VARIANT_FALSE, VARIANT_FALSE, o), S_OK);
  VARIANT_BOOL init = VARIANT_FALSE;
  driver->get_Initialized(&init);
  EXPECT_EQ(init, VARIANT_TRUE);
  sei->Release();
  b->Release();
  dcpwr->Release();
  a->Release();
}

TEST(Server, OnlyTheDriverClassIsServed) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(IID_IVelmoraK40xx, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, nullptr), E_POINTER);
  IVelmoraK40xx* d = CreateDriver();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  d->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
