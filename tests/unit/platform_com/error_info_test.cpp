#include <gtest/gtest.h>

#include <thread>

#include "platform/com/com_ptr.h"
#include "platform/com/error_slot.h"
#include "vmk40xx/com.h"

namespace vmk::com {
namespace {

constexpr GUID kSomeIid{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

// Makes an error object with a description, returned as the IErrorInfo the thread slot takes.
ComPtr<IErrorInfo> MakeError(const char* description) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(create.put()), S_OK);
  EXPECT_EQ(create->SetDescription(Bstr(description).get()), S_OK);
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())), S_OK);
  return info;
}

std::string DescriptionOf(IErrorInfo* info) {
  Bstr text;
  EXPECT_EQ(info->GetDescription(text.put()), S_OK);
  return text.utf8();
}

// Leaves the thread without error information, whatever an earlier test did.
void DrainThread() {
  IErrorInfo* p = nullptr;
  if (GetErrorInfo(0, &p) == S_OK) p->Release();
}

TEST(ErrorInfo, FieldsRoundTrip) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  ASSERT_EQ(create->SetGUID(kSomeIid), S_OK);
  ASSERT_EQ(create->SetSource(Bstr("VelmoraK40xx.VelmoraK40xx.1").get()), S_OK);
  ASSERT_EQ(create->SetDescription(Bstr("VelmoraK40xx: Ω out of range.").get()), S_OK);
  ASSERT_EQ(create->SetHelpFile(Bstr("help.chm").get()), S_OK);
  ASSERT_EQ(create->SetHelpContext(42), S_OK);

  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())), S_OK);
  GUID guid{};
  EXPECT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, kSomeIid);
  Bstr source, help;
  EXPECT_EQ(info->GetSource(source.put()), S_OK);
  EXPECT_EQ(source.utf8(), "VelmoraK40xx.VelmoraK40xx.1");
  EXPECT_EQ(DescriptionOf(info.get()), "VelmoraK40xx: Ω out of range.");
  EXPECT_EQ(info->GetHelpFile(help.put()), S_OK);
  EXPECT_EQ(help.utf8(), "help.chm");
  DWORD context = 0;
  EXPECT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 42u);
}

TEST(ErrorInfo, UnsetTextsReadAsEmpty) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())), S_OK);
  Bstr text("not overwritten?");
  EXPECT_EQ(info->GetSource(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "");
  GUID guid = kSomeIid;
  EXPECT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, GUID_NULL);
  EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, QueryInterfaceBetweenBothInterfaces) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())), S_OK);
  ComPtr<ICreateErrorInfo> back;
  ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(back.put())), S_OK);
  EXPECT_EQ(back.get(), create.get());

  // One identity: IUnknown is the same pointer from either interface.
  ComPtr<IUnknown> u1, u2;
  ASSERT_EQ(create->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(u1.put())), S_OK);
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(u2.put())), S_OK);
  EXPECT_EQ(u1.get(), u2.get());

  void* none = &none;
  EXPECT_EQ(info->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(info->QueryInterface(IID_IErrorInfo, nullptr), E_POINTER);
}

TEST(ErrorInfo, ReferenceCountIsSharedAcrossInterfaces) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  EXPECT_EQ(info->AddRef(), 3u);
  EXPECT_EQ(create->Release(), 2u);
  EXPECT_EQ(info->Release(), 1u);
  EXPECT_EQ(info->Release(), 0u);  // freed here; LeakSanitizer and ASan watch both ways
}

TEST(ErrorInfo, ReferenceCountIsThreadSafe) {
  ComPtr<IErrorInfo> info = MakeError("shared");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        info->AddRef();
        info->Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(info->AddRef(), 2u);
  info->Release();
}

TEST(ErrorInfo, GetHandsOverAndClears) {
  DrainThread();
  ComPtr<IErrorInfo> made = MakeError("first");
  ASSERT_EQ(SetErrorInfo(0, made.get()), S_OK);
  made.reset();  // the thread's slot keeps the object alive

  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(DescriptionOf(got), "first");
  EXPECT_EQ(got->Release(), 0u);  // the caller held the only reference

  IErrorInfo* again = reinterpret_cast<IErrorInfo*>(&again);
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(again, nullptr);
}

TEST(ErrorInfo, SetReplacesAndNullClears) {
  DrainThread();
  ComPtr<IErrorInfo> first = MakeError("first");
  ComPtr<IErrorInfo> second = MakeError("second");
  ASSERT_EQ(SetErrorInfo(0, first.get()), S_OK);
  EXPECT_EQ(first->AddRef(), 3u);  // ours, the slot's, this one
  first->Release();
  ASSERT_EQ(SetErrorInfo(0, second.get()), S_OK);
  EXPECT_EQ(first->AddRef(), 2u);  // the slot let go of it
  first->Release();

  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
  EXPECT_EQ(DescriptionOf(got.get()), "second");

  ASSERT_EQ(SetErrorInfo(0, first.get()), S_OK);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(first->AddRef(), 2u);
  first->Release();
  EXPECT_EQ(GetErrorInfo(0, got.put()), S_FALSE);
}

TEST(ErrorInfo, ReservedArgumentsAndNullOut) {
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  IErrorInfo* p = nullptr;
  EXPECT_EQ(GetErrorInfo(1, &p), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
  DrainThread();
  ASSERT_EQ(SetErrorInfo(0, MakeError("main thread failure").get()), S_OK);

  HRESULT other_before = E_FAIL, other_after = E_FAIL;
  std::string other_description;
  std::thread([&] {
    IErrorInfo* p = nullptr;
    other_before = GetErrorInfo(0, &p);  // must not see the main thread's error
    if (p) p->Release();
    SetErrorInfo(0, MakeError("worker failure").get());
    ComPtr<IErrorInfo> mine;
    other_after = GetErrorInfo(0, mine.put());
    if (mine) other_description = DescriptionOf(mine.get());
  }).join();
  EXPECT_EQ(other_before, S_FALSE);
  EXPECT_EQ(other_after, S_OK);
  EXPECT_EQ(other_description, "worker failure");

  ComPtr<IErrorInfo> mine;
  ASSERT_EQ(GetErrorInfo(0, mine.put()), S_OK);
  EXPECT_EQ(DescriptionOf(mine.get()), "main thread failure");
}

TEST(ErrorInfo, LeftoverIsReleasedAtThreadExit) {
  ComPtr<IErrorInfo> info = MakeError("left behind");
  std::thread([&] { SetErrorInfo(0, info.get()); }).join();
  // Only our reference remains once the worker is gone.
  EXPECT_EQ(info->AddRef(), 2u);
  info->Release();
}

// The frame's quick clear: it empties the calling thread's slot, never another thread's, including
// while another thread holds error information of its own, and a thread that exits with a filled
// slot does not leave the quick question answering "maybe" for ever.
TEST(ErrorInfo, TheQuickClearEmptiesOnlyTheCallersSlot) {
  DrainThread();
  ASSERT_EQ(g_threadsWithErrorInfo.load(), 0);
  ASSERT_EQ(SetErrorInfo(0, MakeError("main").get()), S_OK);
  HRESULT workerSaw = E_FAIL;
  std::thread([&] {
    ClearErrorInfo();  // the main thread's information is not this thread's to clear
    SetErrorInfo(0, MakeError("worker").get());
    ClearErrorInfo();
    IErrorInfo* p = nullptr;
    workerSaw = GetErrorInfo(0, &p);
    if (p) p->Release();
    SetErrorInfo(0, MakeError("left at exit").get());
  }).join();
  EXPECT_EQ(workerSaw, S_FALSE);
  ComPtr<IErrorInfo> mine;
  ASSERT_EQ(GetErrorInfo(0, mine.put()), S_OK);
  EXPECT_EQ(DescriptionOf(mine.get()), "main");
  ASSERT_EQ(SetErrorInfo(0, mine.get()), S_OK);
  ClearErrorInfo();
  IErrorInfo* p = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &p), S_FALSE);
  EXPECT_EQ(g_threadsWithErrorInfo.load(), 0);
}

}  // namespace
}  // namespace vmk::com
