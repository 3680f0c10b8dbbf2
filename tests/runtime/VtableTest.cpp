// Our interface declarations against the engine's ABI table: a call through
// a declaration must land on the vtable slot the engine puts that method in,
// and each IID must be the engine's.
#include <gtest/gtest.h>

#include "runtime/CallbackHandler.h"
#include "runtime/WebView2Interfaces.h"
#include "testbed/runtime-objects/SlotProbe.h"

namespace {

TEST(VtableTest, EnvironmentControllerAndSettingsMethodsSitAtTheirSlots) {
  EXPECT_EQ(SlotOf(&ICoreWebView2Environment::CreateCoreWebView2Controller), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2Environment::CreateWebResourceResponse), 4);
  EXPECT_EQ(SlotOf(&ICoreWebView2Controller::put_Bounds), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2Controller::Close), 24);
  EXPECT_EQ(SlotOf(&ICoreWebView2Controller::get_CoreWebView2), 25);
  EXPECT_EQ(SlotOf(&ICoreWebView2Controller2::put_DefaultBackgroundColor), 27);
  EXPECT_EQ(SlotOf(&ICoreWebView2Controller4::put_AllowExternalDrop), 37);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings::put_IsStatusBarEnabled), 10);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings::put_AreDevToolsEnabled), 12);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings::put_AreDefaultContextMenusEnabled), 14);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings::put_IsZoomControlEnabled), 18);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings3::put_AreBrowserAcceleratorKeysEnabled), 24);
  EXPECT_EQ(SlotOf(&ICoreWebView2Settings7::put_HiddenPdfToolbarItems), 34);
}

TEST(VtableTest, BrowserViewMethodsSitAtTheirSlots) {
  EXPECT_EQ(SlotOf(&ICoreWebView2::get_Settings), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2::Navigate), 5);
  EXPECT_EQ(SlotOf(&ICoreWebView2::NavigateToString), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_NavigationStarting), 7);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_NavigationCompleted), 15);
  EXPECT_EQ(SlotOf(&ICoreWebView2::remove_NavigationCompleted), 16);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_PermissionRequested), 23);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_ProcessFailed), 25);
  EXPECT_EQ(SlotOf(&ICoreWebView2::remove_ProcessFailed), 26);
  EXPECT_EQ(SlotOf(&ICoreWebView2::Reload), 31);
  EXPECT_EQ(SlotOf(&ICoreWebView2::AddScriptToExecuteOnDocumentCreated), 27);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_WebMessageReceived), 34);
  EXPECT_EQ(SlotOf(&ICoreWebView2::get_CanGoBack), 38);
  EXPECT_EQ(SlotOf(&ICoreWebView2::GoBack), 40);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_NewWindowRequested), 44);
  EXPECT_EQ(SlotOf(&ICoreWebView2::add_WebResourceRequested), 55);
  EXPECT_EQ(SlotOf(&ICoreWebView2::AddWebResourceRequestedFilter), 57);
  EXPECT_EQ(SlotOf(&ICoreWebView2_22::AddWebResourceRequestedFilterWithRequestSourceKinds), 123);
  EXPECT_EQ(SlotOf(&ICoreWebView2_4::add_DownloadStarting), 75);
  EXPECT_EQ(SlotOf(&ICoreWebView2_4::remove_DownloadStarting), 76);
  // The placeholders of the chain must add up: the last one ends right
  // before ICoreWebView2_22's own methods.
  EXPECT_EQ(SlotOf(&ICoreWebView2_21::Unused122), 122);
}

TEST(VtableTest, EventArgumentAndRequestMethodsSitAtTheirSlots) {
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationStartingEventArgs::get_Uri), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationStartingEventArgs::put_Cancel), 8);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebMessageReceivedEventArgs::TryGetWebMessageAsString), 5);
  EXPECT_EQ(SlotOf(&ICoreWebView2PermissionRequestedEventArgs::get_PermissionKind), 4);
  EXPECT_EQ(SlotOf(&ICoreWebView2PermissionRequestedEventArgs::put_State), 7);
  EXPECT_EQ(SlotOf(&ICoreWebView2NewWindowRequestedEventArgs::get_Uri), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NewWindowRequestedEventArgs::put_Handled), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebResourceRequestedEventArgs::get_Request), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebResourceRequestedEventArgs::put_Response), 5);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebResourceRequest::get_Uri), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebResourceRequest::get_Headers), 9);
  EXPECT_EQ(SlotOf(&ICoreWebView2HttpRequestHeaders::SetHeader), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadStartingEventArgs::get_DownloadOperation), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadStartingEventArgs::put_Cancel), 5);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadStartingEventArgs::get_ResultFilePath), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadOperation::get_Uri), 9);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadOperation::get_MimeType), 11);
  EXPECT_EQ(SlotOf(&ICoreWebView2EnvironmentOptions::put_AdditionalBrowserArguments), 4);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationCompletedEventArgs::get_IsSuccess), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationCompletedEventArgs::get_WebErrorStatus), 4);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationCompletedEventArgs2::get_HttpStatusCode), 6);
  EXPECT_EQ(SlotOf(&ICoreWebView2ProcessFailedEventArgs::get_ProcessFailedKind), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2ProcessFailedEventArgs2::get_Reason), 4);
  EXPECT_EQ(SlotOf(&ICoreWebView2ProcessFailedEventArgs2::get_ExitCode), 5);
}

TEST(VtableTest, HandlerInvokeIsSlotThree) {
  EXPECT_EQ(SlotOf(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationStartingEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebMessageReceivedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2PermissionRequestedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NewWindowRequestedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2WebResourceRequestedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2DownloadStartingEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2NavigationCompletedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2ProcessFailedEventHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler::Invoke), 3);
  EXPECT_EQ(SlotOf(&ICoreWebView2ExecuteScriptCompletedHandler::Invoke), 3);
}

TEST(VtableTest, HandlerObjectsAnswerTheEngineAtSlotThree) {
  // The engine calls our handlers by slot, not by name.
  HRESULT seen = S_OK;
  auto handler = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [&seen](HRESULT code, ICoreWebView2Environment*) { seen = code; });
  ASSERT_TRUE(handler);
  using InvokeSlot = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, void*);
  auto* const* vtable = *reinterpret_cast<void* const* const*>(handler.Get());
  const auto invoke = reinterpret_cast<InvokeSlot>(reinterpret_cast<void (*)()>(vtable[3]));
  EXPECT_EQ(invoke(handler.Get(), E_ABORT, nullptr), S_OK);
  EXPECT_EQ(seen, E_ABORT);
}

TEST(VtableTest, InterfaceIdsAreTheEngines) {
  struct Expected {
    GUID declared;
    GUID table;
    const char* name;
  };
  const Expected ids[] = {
      {__uuidof(ICoreWebView2Environment),
       {0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}},
       "ICoreWebView2Environment"},
      {__uuidof(ICoreWebView2EnvironmentOptions),
       {0x2fde08a8, 0x1e9a, 0x4766, {0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5}},
       "ICoreWebView2EnvironmentOptions"},
      {__uuidof(ICoreWebView2Controller),
       {0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}},
       "ICoreWebView2Controller"},
      {__uuidof(ICoreWebView2Controller2),
       {0xc979903e, 0xd4ca, 0x4228, {0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab}},
       "ICoreWebView2Controller2"},
      {__uuidof(ICoreWebView2Controller3),
       {0xf9614724, 0x5d2b, 0x41dc, {0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54, 0x3b}},
       "ICoreWebView2Controller3"},
      {__uuidof(ICoreWebView2Controller4),
       {0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}},
       "ICoreWebView2Controller4"},
      {__uuidof(ICoreWebView2),
       {0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}},
       "ICoreWebView2"},
      {__uuidof(ICoreWebView2_22),
       {0xdb75dfc7, 0xa857, 0x4632, {0xa3, 0x98, 0x69, 0x69, 0xdd, 0xe2, 0x6c, 0x0a}},
       "ICoreWebView2_22"},
      {__uuidof(ICoreWebView2_4),
       {0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}},
       "ICoreWebView2_4"},
      {__uuidof(ICoreWebView2Settings7),
       {0x488dc902, 0x35ef, 0x42d2, {0xbc, 0x7d, 0x94, 0xb6, 0x5c, 0x4b, 0xc4, 0x9c}},
       "ICoreWebView2Settings7"},
      {__uuidof(ICoreWebView2DownloadStartingEventArgs),
       {0xe99bbe21, 0x43e9, 0x4544, {0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60}},
       "ICoreWebView2DownloadStartingEventArgs"},
      {__uuidof(ICoreWebView2DownloadOperation),
       {0x3d6b6cf2, 0xafe1, 0x44c7, {0xa9, 0x95, 0xc6, 0x51, 0x17, 0x71, 0x43, 0x36}},
       "ICoreWebView2DownloadOperation"},
      {__uuidof(ICoreWebView2NavigationCompletedEventArgs),
       {0x30d68b7d, 0x20d9, 0x4752, {0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1}},
       "ICoreWebView2NavigationCompletedEventArgs"},
      {__uuidof(ICoreWebView2NavigationCompletedEventArgs2),
       {0xfdf8b738, 0xee1e, 0x4db2, {0xa3, 0x29, 0x8d, 0x7d, 0x7b, 0x74, 0xd7, 0x92}},
       "ICoreWebView2NavigationCompletedEventArgs2"},
      {__uuidof(ICoreWebView2NavigationCompletedEventHandler),
       {0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}},
       "ICoreWebView2NavigationCompletedEventHandler"},
      {__uuidof(ICoreWebView2ProcessFailedEventArgs),
       {0x8155a9a4, 0x1474, 0x4a86, {0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca}},
       "ICoreWebView2ProcessFailedEventArgs"},
      {__uuidof(ICoreWebView2ProcessFailedEventArgs2),
       {0x4dab9422, 0x46fa, 0x4c3e, {0xa5, 0xd2, 0x41, 0xd2, 0x07, 0x1d, 0x36, 0x80}},
       "ICoreWebView2ProcessFailedEventArgs2"},
      {__uuidof(ICoreWebView2ProcessFailedEventHandler),
       {0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}},
       "ICoreWebView2ProcessFailedEventHandler"},
      {__uuidof(ICoreWebView2DownloadStartingEventHandler),
       {0xefedc989, 0xc396, 0x41ca, {0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24}},
       "ICoreWebView2DownloadStartingEventHandler"},
      {__uuidof(ICoreWebView2Settings),
       {0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}},
       "ICoreWebView2Settings"},
      {__uuidof(ICoreWebView2Settings2),
       {0xee9a0f68, 0xf46c, 0x4e32, {0xac, 0x23, 0xef, 0x8c, 0xac, 0x22, 0x4d, 0x2a}},
       "ICoreWebView2Settings2"},
      {__uuidof(ICoreWebView2Settings3),
       {0xfdb5ab74, 0xaf33, 0x4854, {0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba}},
       "ICoreWebView2Settings3"},
      {__uuidof(ICoreWebView2NavigationStartingEventArgs),
       {0x5b495469, 0xe119, 0x438a, {0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49}},
       "ICoreWebView2NavigationStartingEventArgs"},
      {__uuidof(ICoreWebView2WebMessageReceivedEventArgs),
       {0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}},
       "ICoreWebView2WebMessageReceivedEventArgs"},
      {__uuidof(ICoreWebView2PermissionRequestedEventArgs),
       {0x973ae2ef, 0xff18, 0x4894, {0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10}},
       "ICoreWebView2PermissionRequestedEventArgs"},
      {__uuidof(ICoreWebView2NewWindowRequestedEventArgs),
       {0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}},
       "ICoreWebView2NewWindowRequestedEventArgs"},
      {__uuidof(ICoreWebView2WebResourceRequestedEventArgs),
       {0x453e667f, 0x12c7, 0x49d4, {0xbe, 0x6d, 0xdd, 0xbe, 0x79, 0x56, 0xf5, 0x7a}},
       "ICoreWebView2WebResourceRequestedEventArgs"},
      {__uuidof(ICoreWebView2WebResourceRequest),
       {0x97055cd4, 0x512c, 0x4264, {0x8b, 0x5f, 0xe3, 0xf4, 0x46, 0xce, 0xa6, 0xa5}},
       "ICoreWebView2WebResourceRequest"},
      {__uuidof(ICoreWebView2HttpRequestHeaders),
       {0xe86cac0e, 0x5523, 0x465c, {0xb5, 0x36, 0x8f, 0xb9, 0xfc, 0x8c, 0x8c, 0x60}},
       "ICoreWebView2HttpRequestHeaders"},
      {__uuidof(ICoreWebView2HttpResponseHeaders),
       {0x03c5ff5a, 0x9b45, 0x4a88, {0x88, 0x1c, 0x89, 0xa9, 0xf3, 0x28, 0x61, 0x9c}},
       "ICoreWebView2HttpResponseHeaders"},
      {__uuidof(ICoreWebView2WebResourceResponse),
       {0xaafcc94f, 0xfa27, 0x48fd, {0x97, 0xdf, 0x83, 0x0e, 0xf7, 0x5a, 0xae, 0xc9}},
       "ICoreWebView2WebResourceResponse"},
      {__uuidof(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler),
       {0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}},
       "ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler"},
      {__uuidof(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler),
       {0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}},
       "ICoreWebView2CreateCoreWebView2ControllerCompletedHandler"},
      {__uuidof(ICoreWebView2NavigationStartingEventHandler),
       {0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}},
       "ICoreWebView2NavigationStartingEventHandler"},
      {__uuidof(ICoreWebView2WebMessageReceivedEventHandler),
       {0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}},
       "ICoreWebView2WebMessageReceivedEventHandler"},
      {__uuidof(ICoreWebView2PermissionRequestedEventHandler),
       {0x15e1c6a3, 0xc72a, 0x4df3, {0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd}},
       "ICoreWebView2PermissionRequestedEventHandler"},
      {__uuidof(ICoreWebView2NewWindowRequestedEventHandler),
       {0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}},
       "ICoreWebView2NewWindowRequestedEventHandler"},
      {__uuidof(ICoreWebView2WebResourceRequestedEventHandler),
       {0xab00b74c, 0x15f1, 0x4646, {0x80, 0xe8, 0xe7, 0x63, 0x41, 0xd2, 0x5d, 0x71}},
       "ICoreWebView2WebResourceRequestedEventHandler"},
      {__uuidof(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler),
       {0xb99369f3, 0x9b11, 0x47b5, {0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17}},
       "ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler"},
      {__uuidof(ICoreWebView2ExecuteScriptCompletedHandler),
       {0x49511172, 0xcc67, 0x4bca, {0x99, 0x23, 0x13, 0x71, 0x12, 0xf4, 0xc4, 0xcc}},
       "ICoreWebView2ExecuteScriptCompletedHandler"},
      {__uuidof(ICoreWebView2_2),
       {0x9e8f0cf8, 0xe670, 0x4b5e, {0xb2, 0xbc, 0x73, 0xe0, 0x61, 0xe3, 0x18, 0x4c}},
       "ICoreWebView2_2"},
      {__uuidof(ICoreWebView2_3),
       {0xa0d6df20, 0x3b92, 0x416d, {0xaa, 0x0c, 0x43, 0x7a, 0x9c, 0x72, 0x78, 0x57}},
       "ICoreWebView2_3"},
      {__uuidof(ICoreWebView2_4),
       {0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}},
       "ICoreWebView2_4"},
      {__uuidof(ICoreWebView2_5),
       {0xbedb11b8, 0xd63c, 0x11eb, {0xb8, 0xbc, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03}},
       "ICoreWebView2_5"},
      {__uuidof(ICoreWebView2_6),
       {0x499aadac, 0xd92c, 0x4589, {0x8a, 0x75, 0x11, 0x1b, 0xfc, 0x16, 0x77, 0x95}},
       "ICoreWebView2_6"},
      {__uuidof(ICoreWebView2_7),
       {0x79c24d83, 0x09a3, 0x45ae, {0x94, 0x18, 0x48, 0x7f, 0x32, 0xa5, 0x87, 0x40}},
       "ICoreWebView2_7"},
      {__uuidof(ICoreWebView2_8),
       {0xe9632730, 0x6e1e, 0x43ab, {0xb7, 0xb8, 0x7b, 0x2c, 0x9e, 0x62, 0xe0, 0x94}},
       "ICoreWebView2_8"},
      {__uuidof(ICoreWebView2_9),
       {0x4d7b2eab, 0x9fdc, 0x468d, {0xb9, 0x98, 0xa9, 0x26, 0x0b, 0x5e, 0xd6, 0x51}},
       "ICoreWebView2_9"},
      {__uuidof(ICoreWebView2_10),
       {0xb1690564, 0x6f5a, 0x4983, {0x8e, 0x48, 0x31, 0xd1, 0x14, 0x3f, 0xec, 0xdb}},
       "ICoreWebView2_10"},
      {__uuidof(ICoreWebView2_11),
       {0x0be78e56, 0xc193, 0x4051, {0xb9, 0x43, 0x23, 0xb4, 0x60, 0xc0, 0x8b, 0xdb}},
       "ICoreWebView2_11"},
      {__uuidof(ICoreWebView2_12),
       {0x35d69927, 0xbcfa, 0x4566, {0x93, 0x49, 0x6b, 0x3e, 0x0d, 0x15, 0x4c, 0xac}},
       "ICoreWebView2_12"},
      {__uuidof(ICoreWebView2_13),
       {0xf75f09a8, 0x667e, 0x4983, {0x88, 0xd6, 0xc8, 0x77, 0x3f, 0x31, 0x5e, 0x84}},
       "ICoreWebView2_13"},
      {__uuidof(ICoreWebView2_14),
       {0x6daa4f10, 0x4a90, 0x4753, {0x88, 0x98, 0x77, 0xc5, 0xdf, 0x53, 0x41, 0x65}},
       "ICoreWebView2_14"},
      {__uuidof(ICoreWebView2_15),
       {0x517b2d1d, 0x7dae, 0x4a66, {0xa4, 0xf4, 0x10, 0x35, 0x2f, 0xfb, 0x95, 0x18}},
       "ICoreWebView2_15"},
      {__uuidof(ICoreWebView2_16),
       {0x0eb34dc9, 0x9f91, 0x41e1, {0x86, 0x39, 0x95, 0xcd, 0x59, 0x43, 0x90, 0x6b}},
       "ICoreWebView2_16"},
      {__uuidof(ICoreWebView2_17),
       {0x702e75d4, 0xfd44, 0x434d, {0x9d, 0x70, 0x1a, 0x68, 0xa6, 0xb1, 0x19, 0x2a}},
       "ICoreWebView2_17"},
      {__uuidof(ICoreWebView2_18),
       {0x7a626017, 0x28be, 0x49b2, {0xb8, 0x65, 0x3b, 0xa2, 0xb3, 0x52, 0x2d, 0x90}},
       "ICoreWebView2_18"},
      {__uuidof(ICoreWebView2_19),
       {0x6921f954, 0x79b0, 0x437f, {0xa9, 0x97, 0xc8, 0x58, 0x11, 0x89, 0x7c, 0x68}},
       "ICoreWebView2_19"},
      {__uuidof(ICoreWebView2_20),
       {0xb4bc1926, 0x7305, 0x11ee, {0xb9, 0x62, 0x02, 0x42, 0xac, 0x12, 0x00, 0x02}},
       "ICoreWebView2_20"},
      {__uuidof(ICoreWebView2_21),
       {0xc4980dea, 0x587b, 0x43b9, {0x81, 0x43, 0x3e, 0xf3, 0xbf, 0x55, 0x2d, 0x95}},
       "ICoreWebView2_21"},
  };
  for (const auto& id : ids) EXPECT_TRUE(::IsEqualGUID(id.declared, id.table)) << id.name;
}

TEST(VtableTest, ByValueTypesHaveTheEnginesSizes) {
  EXPECT_EQ(sizeof(COREWEBVIEW2_COLOR), 4u);
  EXPECT_EQ(sizeof(EventRegistrationToken), 8u);
  EXPECT_EQ(sizeof(COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS), 4u);
  EXPECT_EQ(sizeof(COREWEBVIEW2_PERMISSION_KIND), 4u);
  EXPECT_EQ(sizeof(COREWEBVIEW2_PDF_TOOLBAR_ITEMS), 4u);
}

}  // namespace
