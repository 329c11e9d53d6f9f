// The example store of the IVI standards reference, as a lab would write it: one driver session
// "PsuBench" (logical name "MyPsu") with virtual names Main -> Output1 and Ch0..Ch1 -> Output2..3.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vmk::test {

inline std::string ExampleStore() {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<IviConfigStore xmlns:dt="urn:schemas-microsoft-com:datatypes">
  <Name>IVI Configuration Server</Name><Description>Linux substitute store</Description>
  <Vendor>IVI Foundation, Inc</Vendor><Revision>1.6.0.0</Revision>
  <SpecificationMajorVersion>1</SpecificationMajorVersion><SpecificationMinorVersion>0</SpecificationMinorVersion>
  <MasterLocation>/var/lib/ivi/IviConfigurationStore.xml</MasterLocation>
  <ProcessDefaultLocation></ProcessDefaultLocation><ActualLocation></ActualLocation>
  <PublishedAPIs>
    <IviPublishedAPI id="a1"><Name>IviDriver</Name><MajorVersion>1</MajorVersion><MinorVersion>0</MinorVersion><Type>IVI-COM</Type></IviPublishedAPI>
    <IviPublishedAPI id="a2"><Name>IviDCPwr</Name><MajorVersion>3</MajorVersion><MinorVersion>0</MinorVersion><Type>IVI-COM</Type></IviPublishedAPI>
  </PublishedAPIs>
  <SoftwareModules>
    <IviSoftwareModule id="m1">
      <Name>VmK40xx</Name><Description>DC power supply driver</Description>
      <DataComponents>
        <IviStructure id="m2">
          <Name>Configurable Initial Settings</Name><Description></Description><ReadOnly>1</ReadOnly>
          <UsedInSession>Required</UsedInSession><Type>Structure</Type><HelpContextID>0</HelpContextID>
          <HelpFilePath></HelpFilePath><SoftwareModuleKey></SoftwareModuleKey>
          <DataComponents>
            <IviString id="m3"><Name>Model</Name><Description>Model simulated</Description><ReadOnly>1</ReadOnly>
              <UsedInSession>Required</UsedInSession><Type>String</Type><HelpContextID>0</HelpContextID>
              <HelpFilePath></HelpFilePath><SoftwareModuleKey>model</SoftwareModuleKey><Value>K4102A</Value></IviString>
            <IviReal id="m4"><Name>Default Voltage</Name><Description></Description><ReadOnly>1</ReadOnly>
              <UsedInSession>Optional</UsedInSession><Type>Real</Type><HelpContextID>0</HelpContextID>
              <HelpFilePath></HelpFilePath><SoftwareModuleKey>vset</SoftwareModuleKey><Units>V</Units><Value>0</Value></IviReal>
          </DataComponents>
        </IviStructure>
      </DataComponents>
      <ModulePath>libvmk40xx.so</ModulePath><Prefix>VmK40xx</Prefix>
      <ProgID>VelmoraK40xx.VelmoraK40xx</ProgID><SupportedInstrumentModels>K4102A,K4301A</SupportedInstrumentModels>
      <PhysicalNames>
        <IviPhysicalName id="m5"><Name>Output</Name><RCName>OutputChannel</RCName><PhysicalNames/>
          <PhysicalRanges><IviPhysicalRange id="m6"><Name>All outputs</Name><Max>3</Max><Min>1</Min></IviPhysicalRange></PhysicalRanges>
        </IviPhysicalName>
      </PhysicalNames>
      <PublishedAPIs><IviPublishedAPI idref="a1"/><IviPublishedAPI idref="a2"/></PublishedAPIs>
    </IviSoftwareModule>
  </SoftwareModules>
  <HardwareAssets>
    <IviHardwareAsset id="h1"><Name>Bench supply</Name><Description></Description><DataComponents/>
      <IOResourceDescriptor>TCPIP0::192.168.0.20::inst0::INSTR</IOResourceDescriptor></IviHardwareAsset>
  </HardwareAssets>
  <DriverSessions>
    <IviDriverSession id="s1">
      <Name>PsuBench</Name><Description></Description>
      <DataComponents>
        <IviStructure id="s2"><Name>Configurable Initial Settings</Name><Description></Description><ReadOnly>0</ReadOnly>
          <UsedInSession>Required</UsedInSession><Type>Structure</Type><HelpContextID>0</HelpContextID>
          <HelpFilePath></HelpFilePath><SoftwareModuleKey></SoftwareModuleKey>
          <DataComponents>
            <IviString id="s3"><Name>Model</Name><Description>Model simulated</Description><ReadOnly>0</ReadOnly>
              <UsedInSession>Required</UsedInSession><Type>String</Type><HelpContextID>0</HelpContextID>
              <HelpFilePath></HelpFilePath><SoftwareModuleKey>model</SoftwareModuleKey><Value>K4301A</Value></IviString>
          </DataComponents>
        </IviStructure>
      </DataComponents>
      <IviHardwareAsset idref="h1"/>
      <IviSoftwareModuleRef idref="m1"/>
      <VirtualNames>
        <IviVirtualName id="s4"><Name>Main</Name><MapTo>Output1</MapTo><VirtualRanges/></IviVirtualName>
        <IviVirtualName id="s5"><Name>Ch</Name><MapTo>Output</MapTo>
          <VirtualRanges><IviVirtualRange id="s6"><Name>Ch 0-1</Name><Max>1</Max><Min>0</Min>
            <StartingPhysicalIndex>2</StartingPhysicalIndex></IviVirtualRange></VirtualRanges></IviVirtualName>
      </VirtualNames>
      <SoftwareModuleName>VmK40xx</SoftwareModuleName>
      <Cache>1</Cache><DriverSetup>Model=K4301A</DriverSetup><InterchangeCheck>0</InterchangeCheck>
      <QueryInstrStatus>1</QueryInstrStatus><RangeCheck>1</RangeCheck><RecordCoercions>0</RecordCoercions><Simulate>1</Simulate>
    </IviDriverSession>
  </DriverSessions>
  <Sessions><IviDriverSession idref="s1"/></Sessions>
  <LogicalNames>
    <IviLogicalName id="l1"><Name>MyPsu</Name><Description></Description><IviDriverSession idref="s1"/></IviLogicalName>
  </LogicalNames>
</IviConfigStore>
)";
}

// `text` with the first `from` replaced by `to`; the test fails when `from` is absent.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at == std::string::npos) {
    ADD_FAILURE() << "the store has no " << from;
    return text;
  }
  return text.replace(at, from.size(), to);
}

}  // namespace vmk::test
