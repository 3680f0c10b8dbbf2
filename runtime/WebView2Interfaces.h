#pragma once
// Our own declarations of the browser engine's COM interfaces, written from the
// engine's published ABI: every method sits at the vtable slot the engine
// expects, so nothing here may gain a virtual destructor, a data member or a
// reordered method. Interfaces whose methods the program never calls are only
// forward-declared.
#include <windows.h>
// After windows.h, which these build on.
#include <eventtoken.h>
#include <objidl.h>
#include <unknwn.h>

// Declares an interface together with its IID so that __uuidof (and with it
// ComPtr::As) works with both compilers. mingw-w64 emulates __uuidof through a
// template specialisation, which only needs the name declared beforehand.
#if defined(_MSC_VER)
#define MIRAVELL_COM_INTERFACE(name, base, text, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  struct __declspec(uuid(text)) name : base
#else
#define MIRAVELL_COM_INTERFACE(name, base, text, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  struct name;                                                                              \
  __CRT_UUID_DECL(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                          \
  struct name : base
#endif

// ---- Enums and structs (all 32-bit enums) ----

enum COREWEBVIEW2_PERMISSION_KIND {
  COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION = 0,
  COREWEBVIEW2_PERMISSION_KIND_MICROPHONE = 1,
  COREWEBVIEW2_PERMISSION_KIND_CAMERA = 2,
  COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION = 3,
  COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS = 4,
  COREWEBVIEW2_PERMISSION_KIND_OTHER_SENSORS = 5,
  COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ = 6,
  COREWEBVIEW2_PERMISSION_KIND_MULTIPLE_AUTOMATIC_DOWNLOADS = 7,
  COREWEBVIEW2_PERMISSION_KIND_FILE_READ_WRITE = 8,
  COREWEBVIEW2_PERMISSION_KIND_AUTOPLAY = 9,
  COREWEBVIEW2_PERMISSION_KIND_LOCAL_FONTS = 10,
  COREWEBVIEW2_PERMISSION_KIND_MIDI_SYSTEM_EXCLUSIVE_MESSAGES = 11,
  COREWEBVIEW2_PERMISSION_KIND_WINDOW_MANAGEMENT = 12
};

enum COREWEBVIEW2_PERMISSION_STATE {
  COREWEBVIEW2_PERMISSION_STATE_DEFAULT = 0,
  COREWEBVIEW2_PERMISSION_STATE_ALLOW = 1,
  COREWEBVIEW2_PERMISSION_STATE_DENY = 2
};

enum COREWEBVIEW2_WEB_RESOURCE_CONTEXT {
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL = 0,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT = 1,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_STYLESHEET = 2,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE = 3,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_MEDIA = 4,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_FONT = 5,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT = 6,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_XML_HTTP_REQUEST = 7,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_FETCH = 8,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_TEXT_TRACK = 9,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_EVENT_SOURCE = 10,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_WEBSOCKET = 11,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_MANIFEST = 12,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SIGNED_EXCHANGE = 13,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_PING = 14,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_CSP_VIOLATION_REPORT = 15,
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT_OTHER = 16
};

// A flags enum whose ALL value fills 32 bits, hence the unsigned base.
enum COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS : unsigned int {
  COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_NONE = 0,
  COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_DOCUMENT = 0x1,
  COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_SHARED_WORKER = 0x2,
  COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_SERVICE_WORKER = 0x4,
  COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL = 0xFFFFFFFF
};

enum COREWEBVIEW2_PROCESS_FAILED_KIND {
  COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED = 0,
  COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED = 1,
  COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE = 2,
  COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED = 3,
  COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED = 4,
  COREWEBVIEW2_PROCESS_FAILED_KIND_SANDBOX_HELPER_PROCESS_EXITED = 5,
  COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED = 6,
  COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_PLUGIN_PROCESS_EXITED = 7,
  COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_BROKER_PROCESS_EXITED = 8,
  COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED = 9
};

enum COREWEBVIEW2_PROCESS_FAILED_REASON {
  COREWEBVIEW2_PROCESS_FAILED_REASON_UNEXPECTED = 0,
  COREWEBVIEW2_PROCESS_FAILED_REASON_UNRESPONSIVE = 1,
  COREWEBVIEW2_PROCESS_FAILED_REASON_TERMINATED = 2,
  COREWEBVIEW2_PROCESS_FAILED_REASON_CRASHED = 3,
  COREWEBVIEW2_PROCESS_FAILED_REASON_LAUNCH_FAILED = 4,
  COREWEBVIEW2_PROCESS_FAILED_REASON_OUT_OF_MEMORY = 5,
  COREWEBVIEW2_PROCESS_FAILED_REASON_PROFILE_DELETED = 6
};

enum COREWEBVIEW2_WEB_ERROR_STATUS {
  COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN = 0,
  COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_COMMON_NAME_IS_INCORRECT = 1,
  COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_EXPIRED = 2,
  COREWEBVIEW2_WEB_ERROR_STATUS_CLIENT_CERTIFICATE_CONTAINS_ERRORS = 3,
  COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_REVOKED = 4,
  COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_IS_INVALID = 5,
  COREWEBVIEW2_WEB_ERROR_STATUS_SERVER_UNREACHABLE = 6,
  COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT = 7,
  COREWEBVIEW2_WEB_ERROR_STATUS_ERROR_HTTP_INVALID_SERVER_RESPONSE = 8,
  COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_ABORTED = 9,
  COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_RESET = 10,
  COREWEBVIEW2_WEB_ERROR_STATUS_DISCONNECTED = 11,
  COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT = 12,
  COREWEBVIEW2_WEB_ERROR_STATUS_HOST_NAME_NOT_RESOLVED = 13,
  COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED = 14,
  COREWEBVIEW2_WEB_ERROR_STATUS_REDIRECT_FAILED = 15,
  COREWEBVIEW2_WEB_ERROR_STATUS_UNEXPECTED_ERROR = 16,
  COREWEBVIEW2_WEB_ERROR_STATUS_VALID_AUTHENTICATION_CREDENTIALS_REQUIRED = 17,
  COREWEBVIEW2_WEB_ERROR_STATUS_VALID_PROXY_AUTHENTICATION_REQUIRED = 18
};

enum COREWEBVIEW2_MOVE_FOCUS_REASON {
  COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC = 0,
  COREWEBVIEW2_MOVE_FOCUS_REASON_NEXT = 1,
  COREWEBVIEW2_MOVE_FOCUS_REASON_PREVIOUS = 2
};

enum COREWEBVIEW2_BOUNDS_MODE {
  COREWEBVIEW2_BOUNDS_MODE_USE_RAW_PIXELS = 0,
  COREWEBVIEW2_BOUNDS_MODE_USE_RASTERIZATION_SCALE = 1
};

enum COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT {
  COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG = 0,
  COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_JPEG = 1
};

// Passed by value: four bytes in A, R, G, B order.
struct COREWEBVIEW2_COLOR {
  BYTE A;
  BYTE R;
  BYTE G;
  BYTE B;
};

// ---- Interfaces only passed through, never called ----

struct ICoreWebView2Deferral;
struct ICoreWebView2HttpHeadersCollectionIterator;
struct ICoreWebView2WindowFeatures;
struct ICoreWebView2DevToolsProtocolEventReceiver;
struct ICoreWebView2NewBrowserVersionAvailableEventHandler;
struct ICoreWebView2ZoomFactorChangedEventHandler;
struct ICoreWebView2MoveFocusRequestedEventHandler;
struct ICoreWebView2FocusChangedEventHandler;
struct ICoreWebView2AcceleratorKeyPressedEventHandler;
struct ICoreWebView2RasterizationScaleChangedEventHandler;
struct ICoreWebView2ContentLoadingEventHandler;
struct ICoreWebView2SourceChangedEventHandler;
struct ICoreWebView2HistoryChangedEventHandler;
struct ICoreWebView2ScriptDialogOpeningEventHandler;
struct ICoreWebView2CapturePreviewCompletedHandler;
struct ICoreWebView2CallDevToolsProtocolMethodCompletedHandler;
struct ICoreWebView2DocumentTitleChangedEventHandler;
struct ICoreWebView2ContainsFullScreenElementChangedEventHandler;
struct ICoreWebView2WindowCloseRequestedEventHandler;

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;
struct ICoreWebView2HttpRequestHeaders;
struct ICoreWebView2HttpResponseHeaders;
struct ICoreWebView2WebResourceResponse;
struct ICoreWebView2NavigationStartingEventArgs;
struct ICoreWebView2DownloadStartingEventArgs;
struct ICoreWebView2DownloadStartingEventHandler;
struct ICoreWebView2NavigationCompletedEventArgs;
struct ICoreWebView2NavigationCompletedEventHandler;
struct ICoreWebView2ProcessFailedEventArgs;
struct ICoreWebView2ProcessFailedEventHandler;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2PermissionRequestedEventArgs;
struct ICoreWebView2NewWindowRequestedEventArgs;
struct ICoreWebView2WebResourceRequestedEventArgs;

// The formatter reads the interface macro as a function head and would space
// every pointer in the vtables; they are laid out by hand instead.
// clang-format off
// ---- Handlers (implemented by the program) ----

MIRAVELL_COM_INTERFACE(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, IUnknown,
                       "4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d", 0x4e8a3389, 0xc9d8, 0x4bd2, 0xb6, 0xb5, 0x12, 0x4f, 0xee,
                       0x6c, 0xc1, 0x4d) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Environment* result) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, IUnknown,
                       "6c4819f3-c9b7-4260-8127-c9f5bde7f68c", 0x6c4819f3, 0xc9b7, 0x4260, 0x81, 0x27, 0xc9, 0xf5, 0xbd,
                       0xe7, 0xf6, 0x8c) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Controller* result) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2NavigationStartingEventHandler, IUnknown, "9adbe429-f36d-432b-9ddc-f8881fbd76e3",
                       0x9adbe429, 0xf36d, 0x432b, 0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebMessageReceivedEventHandler, IUnknown, "57213f19-00e6-49fa-8e07-898ea01ecbd2",
                       0x57213f19, 0x00e6, 0x49fa, 0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2PermissionRequestedEventHandler, IUnknown, "15e1c6a3-c72a-4df3-91d7-d097fbec6bfd",
                       0x15e1c6a3, 0xc72a, 0x4df3, 0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2PermissionRequestedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2NewWindowRequestedEventHandler, IUnknown, "d4c185fe-c81c-4989-97af-2d3fa7ab5651",
                       0xd4c185fe, 0xc81c, 0x4989, 0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2DownloadStartingEventHandler, IUnknown, "efedc989-c396-41ca-83f7-07f845a55724",
                       0xefedc989, 0xc396, 0x41ca, 0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2DownloadStartingEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2NavigationCompletedEventHandler, IUnknown, "d33a35bf-1c49-4f98-93ab-006e0533fe1c",
                       0xd33a35bf, 0x1c49, 0x4f98, 0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2ProcessFailedEventHandler, IUnknown, "79e0aea4-990b-42d9-aa1d-0fcc2e5bc7f1",
                       0x79e0aea4, 0x990b, 0x42d9, 0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebResourceRequestedEventHandler, IUnknown, "ab00b74c-15f1-4646-80e8-e76341d25d71",
                       0xab00b74c, 0x15f1, 0x4646, 0x80, 0xe8, 0xe7, 0x63, 0x41, 0xd2, 0x5d, 0x71) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2WebResourceRequestedEventArgs* args) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, IUnknown,
                       "b99369f3-9b11-47b5-bc6f-8e7895fcea17", 0xb99369f3, 0x9b11, 0x47b5, 0xbc, 0x6f, 0x8e, 0x78, 0x95,
                       0xfc, 0xea, 0x17) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, LPCWSTR result) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2ExecuteScriptCompletedHandler, IUnknown, "49511172-cc67-4bca-9923-137112f4c4cc",
                       0x49511172, 0xcc67, 0x4bca, 0x99, 0x23, 0x13, 0x71, 0x12, 0xf4, 0xc4, 0xcc) {
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, LPCWSTR result) = 0;
};

// ---- Environment and its options ----

MIRAVELL_COM_INTERFACE(ICoreWebView2Environment, IUnknown, "b96d755e-0319-4e92-a296-23436f46a1fc", 0xb96d755e, 0x0319,
                       0x4e92, 0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc) {
  virtual HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream* content, int statusCode, LPCWSTR reasonPhrase,
                                                              LPCWSTR headers,
                                                              ICoreWebView2WebResourceResponse** response) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* versionInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(
      ICoreWebView2NewBrowserVersionAvailableEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(EventRegistrationToken token) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2EnvironmentOptions, IUnknown, "2fde08a8-1e9a-4766-8c05-95a9ceb9d1c5", 0x2fde08a8,
                       0x1e9a, 0x4766, 0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5) {
  virtual HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) = 0;
};

// ---- Controller chain ----

MIRAVELL_COM_INTERFACE(ICoreWebView2Controller, IUnknown, "4d00c0d1-9434-4eb6-8078-8697a560334f", 0x4d00c0d1, 0x9434,
                       0x4eb6, 0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f) {
  virtual HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* zoomFactor) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ZoomFactor(double zoomFactor) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(ICoreWebView2ZoomFactorChangedEventHandler* eventHandler,
                                                          EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT bounds, double zoomFactor) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(ICoreWebView2MoveFocusRequestedEventHandler* eventHandler,
                                                           EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_GotFocus(ICoreWebView2FocusChangedEventHandler* eventHandler,
                                                 EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_LostFocus(ICoreWebView2FocusChangedEventHandler* eventHandler,
                                                  EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(
      ICoreWebView2AcceleratorKeyPressedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parentWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parentWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Controller2, ICoreWebView2Controller, "c979903e-d4ca-4228-92eb-47ee3fa96eab",
                       0xc979903e, 0xd4ca, 0x4228, 0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab) {
  virtual HRESULT STDMETHODCALLTYPE get_DefaultBackgroundColor(COREWEBVIEW2_COLOR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(COREWEBVIEW2_COLOR value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Controller3, ICoreWebView2Controller2, "f9614724-5d2b-41dc-aef7-73d62b51543b",
                       0xf9614724, 0x5d2b, 0x41dc, 0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54, 0x3b) {
  virtual HRESULT STDMETHODCALLTYPE get_RasterizationScale(double* scale) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_RasterizationScale(double scale) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ShouldDetectMonitorScaleChanges(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ShouldDetectMonitorScaleChanges(BOOL value) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_RasterizationScaleChanged(
      ICoreWebView2RasterizationScaleChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_RasterizationScaleChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BoundsMode(COREWEBVIEW2_BOUNDS_MODE* boundsMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_BoundsMode(COREWEBVIEW2_BOUNDS_MODE boundsMode) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Controller4, ICoreWebView2Controller3, "97d418d5-a426-4e49-a151-e1a10f327d9e",
                       0x97d418d5, 0xa426, 0x4e49, 0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e) {
  virtual HRESULT STDMETHODCALLTYPE get_AllowExternalDrop(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowExternalDrop(BOOL value) = 0;
};

// ---- Settings chain ----

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings, IUnknown, "e562e4f0-d7fa-43ac-8d71-c05150499f00", 0xe562e4f0, 0xd7fa,
                       0x43ac, 0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00) {
  virtual HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* isScriptEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL isScriptEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* isWebMessageEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL isWebMessageEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* areDefaultScriptDialogsEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL areDefaultScriptDialogsEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* isStatusBarEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL isStatusBarEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* areDevToolsEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL areDevToolsEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL* allowed) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL allowed) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsZoomControlEnabled(BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsBuiltInErrorPageEnabled(BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsBuiltInErrorPageEnabled(BOOL enabled) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings2, ICoreWebView2Settings, "ee9a0f68-f46c-4e32-ac23-ef8cac224d2a",
                       0xee9a0f68, 0xf46c, 0x4e32, 0xac, 0x23, 0xef, 0x8c, 0xac, 0x22, 0x4d, 0x2a) {
  virtual HRESULT STDMETHODCALLTYPE get_UserAgent(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserAgent(LPCWSTR value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings3, ICoreWebView2Settings2, "fdb5ab74-af33-4854-84f0-0a631deb5eba",
                       0xfdb5ab74, 0xaf33, 0x4854, 0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba) {
  virtual HRESULT STDMETHODCALLTYPE get_AreBrowserAcceleratorKeysEnabled(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AreBrowserAcceleratorKeysEnabled(BOOL value) = 0;
};

enum COREWEBVIEW2_PDF_TOOLBAR_ITEMS {
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_NONE = 0x0,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE = 0x1,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT = 0x2,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS = 0x4,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_ZOOM_IN = 0x8,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_ZOOM_OUT = 0x10,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_ROTATE = 0x20,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_FIT_PAGE = 0x40,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PAGE_LAYOUT = 0x80,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_BOOKMARKS = 0x100,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PAGE_SELECTOR = 0x200,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SEARCH = 0x400,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_FULL_SCREEN = 0x800,
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_MORE_SETTINGS = 0x1000
};

// Settings4 to Settings6 only lead up to Settings7's slots.
MIRAVELL_COM_INTERFACE(ICoreWebView2Settings4, ICoreWebView2Settings3, "cb56846c-4168-4d53-b04f-03b6d6796ff2",
                       0xcb56846c, 0x4168, 0x4d53, 0xb0, 0x4f, 0x03, 0xb6, 0xd6, 0x79, 0x6f, 0xf2) {
  virtual HRESULT STDMETHODCALLTYPE get_IsPasswordAutosaveEnabled(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsPasswordAutosaveEnabled(BOOL value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsGeneralAutofillEnabled(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsGeneralAutofillEnabled(BOOL value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings5, ICoreWebView2Settings4, "183e7052-1d03-43a0-ab99-98e043b66b39",
                       0x183e7052, 0x1d03, 0x43a0, 0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39) {
  virtual HRESULT STDMETHODCALLTYPE get_IsPinchZoomEnabled(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsPinchZoomEnabled(BOOL value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings6, ICoreWebView2Settings5, "11cb3acd-9bc8-43b8-83bf-f40753714f87",
                       0x11cb3acd, 0x9bc8, 0x43b8, 0x83, 0xbf, 0xf4, 0x07, 0x53, 0x71, 0x4f, 0x87) {
  virtual HRESULT STDMETHODCALLTYPE get_IsSwipeNavigationEnabled(BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_IsSwipeNavigationEnabled(BOOL value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2Settings7, ICoreWebView2Settings6, "488dc902-35ef-42d2-bc7d-94b65c4bc49c",
                       0x488dc902, 0x35ef, 0x42d2, 0xbc, 0x7d, 0x94, 0xb6, 0x5c, 0x4b, 0xc4, 0x9c) {
  virtual HRESULT STDMETHODCALLTYPE get_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS value) = 0;
};

// ---- The browser view chain ----

MIRAVELL_COM_INTERFACE(ICoreWebView2, IUnknown, "76eceacb-0462-4d94-ac83-423a6793775e", 0x76eceacb, 0x0462, 0x4d94,
                       0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e) {
  virtual HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR htmlContent) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* eventHandler,
                                                           EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ContentLoading(ICoreWebView2ContentLoadingEventHandler* eventHandler,
                                                       EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler* eventHandler,
                                                      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_HistoryChanged(ICoreWebView2HistoryChangedEventHandler* eventHandler,
                                                       EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* eventHandler,
                                                            EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(
      ICoreWebView2NavigationStartingEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(
      ICoreWebView2NavigationCompletedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(ICoreWebView2ScriptDialogOpeningEventHandler* eventHandler,
                                                            EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler* eventHandler,
                                                            EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* eventHandler,
                                                      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR javaScript,
                                                  ICoreWebView2ExecuteScriptCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat,
                                                   IStream* imageStream,
                                                   ICoreWebView2CapturePreviewCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reload() = 0;
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR webMessageAsJson) = 0;
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR webMessageAsString) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                           EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(
      LPCWSTR methodName, LPCWSTR parametersAsJson,
      ICoreWebView2CallDevToolsProtocolMethodCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* canGoBack) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* canGoForward) = 0;
  virtual HRESULT STDMETHODCALLTYPE GoBack() = 0;
  virtual HRESULT STDMETHODCALLTYPE GoForward() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(
      LPCWSTR eventName, ICoreWebView2DevToolsProtocolEventReceiver** receiver) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* eventHandler,
                                                           EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_DocumentTitleChanged(
      ICoreWebView2DocumentTitleChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_DocumentTitleChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR name, VARIANT* object) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ContainsFullScreenElementChanged(
      ICoreWebView2ContainsFullScreenElementChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ContainsFullScreenElementChanged(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL* containsFullScreenElement) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_WebResourceRequested(
      ICoreWebView2WebResourceRequestedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_WebResourceRequested(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(
      LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(
      LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_WindowCloseRequested(
      ICoreWebView2WindowCloseRequestedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_WindowCloseRequested(EventRegistrationToken token) = 0;
};

// The program calls nothing between ICoreWebView2 and ICoreWebView2_22, but
// each step of the chain appends methods the later slots depend on. Those
// methods are declared as placeholders without parameters, named after the
// slot they fill: only their number and order matter, and nothing calls them.
MIRAVELL_COM_INTERFACE(ICoreWebView2_2, ICoreWebView2, "9e8f0cf8-e670-4b5e-b2bc-73e061e3184c", 0x9e8f0cf8, 0xe670,
                       0x4b5e, 0xb2, 0xbc, 0x73, 0xe0, 0x61, 0xe3, 0x18, 0x4c) {
  virtual HRESULT STDMETHODCALLTYPE Unused61() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused62() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused63() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused64() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused65() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused66() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused67() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_3, ICoreWebView2_2, "a0d6df20-3b92-416d-aa0c-437a9c727857", 0xa0d6df20, 0x3b92,
                       0x416d, 0xaa, 0x0c, 0x43, 0x7a, 0x9c, 0x72, 0x78, 0x57) {
  virtual HRESULT STDMETHODCALLTYPE Unused68() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused69() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused70() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused71() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused72() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_4, ICoreWebView2_3, "20d02d59-6df2-42dc-bd06-f98a694b1302", 0x20d02d59, 0x6df2,
                       0x42dc, 0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02) {
  virtual HRESULT STDMETHODCALLTYPE Unused73() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused74() = 0;
  virtual HRESULT STDMETHODCALLTYPE add_DownloadStarting(ICoreWebView2DownloadStartingEventHandler* eventHandler,
                                                         EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_DownloadStarting(EventRegistrationToken token) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_5, ICoreWebView2_4, "bedb11b8-d63c-11eb-b8bc-0242ac130003", 0xbedb11b8, 0xd63c,
                       0x11eb, 0xb8, 0xbc, 0x02, 0x42, 0xac, 0x13, 0x00, 0x03) {
  virtual HRESULT STDMETHODCALLTYPE Unused77() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused78() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_6, ICoreWebView2_5, "499aadac-d92c-4589-8a75-111bfc167795", 0x499aadac, 0xd92c,
                       0x4589, 0x8a, 0x75, 0x11, 0x1b, 0xfc, 0x16, 0x77, 0x95) {
  virtual HRESULT STDMETHODCALLTYPE Unused79() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_7, ICoreWebView2_6, "79c24d83-09a3-45ae-9418-487f32a58740", 0x79c24d83, 0x09a3,
                       0x45ae, 0x94, 0x18, 0x48, 0x7f, 0x32, 0xa5, 0x87, 0x40) {
  virtual HRESULT STDMETHODCALLTYPE Unused80() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_8, ICoreWebView2_7, "e9632730-6e1e-43ab-b7b8-7b2c9e62e094", 0xe9632730, 0x6e1e,
                       0x43ab, 0xb7, 0xb8, 0x7b, 0x2c, 0x9e, 0x62, 0xe0, 0x94) {
  virtual HRESULT STDMETHODCALLTYPE Unused81() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused82() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused83() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused84() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused85() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused86() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused87() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_9, ICoreWebView2_8, "4d7b2eab-9fdc-468d-b998-a9260b5ed651", 0x4d7b2eab, 0x9fdc,
                       0x468d, 0xb9, 0x98, 0xa9, 0x26, 0x0b, 0x5e, 0xd6, 0x51) {
  virtual HRESULT STDMETHODCALLTYPE Unused88() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused89() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused90() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused91() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused92() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused93() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused94() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused95() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused96() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_10, ICoreWebView2_9, "b1690564-6f5a-4983-8e48-31d1143fecdb", 0xb1690564, 0x6f5a,
                       0x4983, 0x8e, 0x48, 0x31, 0xd1, 0x14, 0x3f, 0xec, 0xdb) {
  virtual HRESULT STDMETHODCALLTYPE Unused97() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused98() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_11, ICoreWebView2_10, "0be78e56-c193-4051-b943-23b460c08bdb", 0x0be78e56, 0xc193,
                       0x4051, 0xb9, 0x43, 0x23, 0xb4, 0x60, 0xc0, 0x8b, 0xdb) {
  virtual HRESULT STDMETHODCALLTYPE Unused99() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused100() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused101() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_12, ICoreWebView2_11, "35d69927-bcfa-4566-9349-6b3e0d154cac", 0x35d69927, 0xbcfa,
                       0x4566, 0x93, 0x49, 0x6b, 0x3e, 0x0d, 0x15, 0x4c, 0xac) {
  virtual HRESULT STDMETHODCALLTYPE Unused102() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused103() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused104() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_13, ICoreWebView2_12, "f75f09a8-667e-4983-88d6-c8773f315e84", 0xf75f09a8, 0x667e,
                       0x4983, 0x88, 0xd6, 0xc8, 0x77, 0x3f, 0x31, 0x5e, 0x84) {
  virtual HRESULT STDMETHODCALLTYPE Unused105() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_14, ICoreWebView2_13, "6daa4f10-4a90-4753-8898-77c5df534165", 0x6daa4f10, 0x4a90,
                       0x4753, 0x88, 0x98, 0x77, 0xc5, 0xdf, 0x53, 0x41, 0x65) {
  virtual HRESULT STDMETHODCALLTYPE Unused106() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused107() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused108() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_15, ICoreWebView2_14, "517b2d1d-7dae-4a66-a4f4-10352ffb9518", 0x517b2d1d, 0x7dae,
                       0x4a66, 0xa4, 0xf4, 0x10, 0x35, 0x2f, 0xfb, 0x95, 0x18) {
  virtual HRESULT STDMETHODCALLTYPE Unused109() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused110() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused111() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused112() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_16, ICoreWebView2_15, "0eb34dc9-9f91-41e1-8639-95cd5943906b", 0x0eb34dc9, 0x9f91,
                       0x41e1, 0x86, 0x39, 0x95, 0xcd, 0x59, 0x43, 0x90, 0x6b) {
  virtual HRESULT STDMETHODCALLTYPE Unused113() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused114() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused115() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_17, ICoreWebView2_16, "702e75d4-fd44-434d-9d70-1a68a6b1192a", 0x702e75d4, 0xfd44,
                       0x434d, 0x9d, 0x70, 0x1a, 0x68, 0xa6, 0xb1, 0x19, 0x2a) {
  virtual HRESULT STDMETHODCALLTYPE Unused116() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_18, ICoreWebView2_17, "7a626017-28be-49b2-b865-3ba2b3522d90", 0x7a626017, 0x28be,
                       0x49b2, 0xb8, 0x65, 0x3b, 0xa2, 0xb3, 0x52, 0x2d, 0x90) {
  virtual HRESULT STDMETHODCALLTYPE Unused117() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused118() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_19, ICoreWebView2_18, "6921f954-79b0-437f-a997-c85811897c68", 0x6921f954, 0x79b0,
                       0x437f, 0xa9, 0x97, 0xc8, 0x58, 0x11, 0x89, 0x7c, 0x68) {
  virtual HRESULT STDMETHODCALLTYPE Unused119() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused120() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_20, ICoreWebView2_19, "b4bc1926-7305-11ee-b962-0242ac120002", 0xb4bc1926, 0x7305,
                       0x11ee, 0xb9, 0x62, 0x02, 0x42, 0xac, 0x12, 0x00, 0x02) {
  virtual HRESULT STDMETHODCALLTYPE Unused121() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_21, ICoreWebView2_20, "c4980dea-587b-43b9-8143-3ef3bf552d95", 0xc4980dea, 0x587b,
                       0x43b9, 0x81, 0x43, 0x3e, 0xf3, 0xbf, 0x55, 0x2d, 0x95) {
  virtual HRESULT STDMETHODCALLTYPE Unused122() = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2_22, ICoreWebView2_21, "db75dfc7-a857-4632-a398-6969dde26c0a", 0xdb75dfc7, 0xa857,
                       0x4632, 0xa3, 0x98, 0x69, 0x69, 0xdd, 0xe2, 0x6c, 0x0a) {
  virtual HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilterWithRequestSourceKinds(
      LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext,
      COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS requestSourceKinds) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilterWithRequestSourceKinds(
      LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext,
      COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS requestSourceKinds) = 0;
};

// ---- Event arguments and web resources (implemented by the engine) ----

MIRAVELL_COM_INTERFACE(ICoreWebView2NavigationStartingEventArgs, IUnknown, "5b495469-e119-438a-9b18-7604f25f2e49",
                       0x5b495469, 0xe119, 0x438a, 0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49) {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* isUserInitiated) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* isRedirected) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RequestHeaders(ICoreWebView2HttpRequestHeaders** requestHeaders) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* navigationId) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebMessageReceivedEventArgs, IUnknown, "0f99a40c-e962-4207-9e92-e3d542eff849",
                       0x0f99a40c, 0xe962, 0x4207, 0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49) {
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2PermissionRequestedEventArgs, IUnknown, "973ae2ef-ff18-4894-8fb2-3c758f046810",
                       0x973ae2ef, 0xff18, 0x4894, 0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10) {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* permissionKind) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* isUserInitiated) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* state) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2NewWindowRequestedEventArgs, IUnknown, "34acb11c-fc37-4418-9132-f9c21d1eafb9",
                       0x34acb11c, 0xfc37, 0x4418, 0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9) {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* newWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** newWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* isUserInitiated) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_WindowFeatures(ICoreWebView2WindowFeatures** value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2HttpRequestHeaders, IUnknown, "e86cac0e-5523-465c-b536-8fb9fc8c8c60", 0xe86cac0e,
                       0x5523, 0x465c, 0xb5, 0x36, 0x8f, 0xb9, 0xfc, 0x8c, 0x8c, 0x60) {
  virtual HRESULT STDMETHODCALLTYPE GetHeader(LPCWSTR name, LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHeaders(LPCWSTR name, ICoreWebView2HttpHeadersCollectionIterator** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Contains(LPCWSTR name, BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHeader(LPCWSTR name, LPCWSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveHeader(LPCWSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIterator(ICoreWebView2HttpHeadersCollectionIterator** value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2HttpResponseHeaders, IUnknown, "03c5ff5a-9b45-4a88-881c-89a9f328619c", 0x03c5ff5a,
                       0x9b45, 0x4a88, 0x88, 0x1c, 0x89, 0xa9, 0xf3, 0x28, 0x61, 0x9c) {
  virtual HRESULT STDMETHODCALLTYPE AppendHeader(LPCWSTR name, LPCWSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Contains(LPCWSTR name, BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHeader(LPCWSTR name, LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHeaders(LPCWSTR name, ICoreWebView2HttpHeadersCollectionIterator** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIterator(ICoreWebView2HttpHeadersCollectionIterator** value) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebResourceRequest, IUnknown, "97055cd4-512c-4264-8b5f-e3f446cea6a5", 0x97055cd4,
                       0x512c, 0x4264, 0x8b, 0x5f, 0xe3, 0xf4, 0x46, 0xce, 0xa6, 0xa5) {
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Uri(LPCWSTR uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* method) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Method(LPCWSTR method) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Content(IStream** content) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Content(IStream* content) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpRequestHeaders** headers) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebResourceResponse, IUnknown, "aafcc94f-fa27-48fd-97df-830ef75aaec9", 0xaafcc94f,
                       0xfa27, 0x48fd, 0x97, 0xdf, 0x83, 0x0e, 0xf7, 0x5a, 0xae, 0xc9) {
  virtual HRESULT STDMETHODCALLTYPE get_Content(IStream** content) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Content(IStream* content) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpResponseHeaders** headers) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_StatusCode(int* statusCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_StatusCode(int statusCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ReasonPhrase(LPWSTR* reasonPhrase) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ReasonPhrase(LPCWSTR reasonPhrase) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2WebResourceRequestedEventArgs, IUnknown, "453e667f-12c7-49d4-be6d-ddbe7956f57a",
                       0x453e667f, 0x12c7, 0x49d4, 0xbe, 0x6d, 0xdd, 0xbe, 0x79, 0x56, 0xf5, 0x7a) {
  virtual HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** request) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Response(ICoreWebView2WebResourceResponse** response) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* response) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) = 0;
};
MIRAVELL_COM_INTERFACE(ICoreWebView2DownloadOperation, IUnknown, "3d6b6cf2-afe1-44c7-a995-c65117714336", 0x3d6b6cf2,
                       0xafe1, 0x44c7, 0xa9, 0x95, 0xc6, 0x51, 0x17, 0x71, 0x43, 0x36) {
  // The progress events (slots 3-8) are never subscribed to.
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ContentDisposition(LPWSTR* contentDisposition) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MimeType(LPWSTR* mimeType) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2DownloadStartingEventArgs, IUnknown, "e99bbe21-43e9-4544-a732-282764eafa60",
                       0xe99bbe21, 0x43e9, 0x4544, 0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60) {
  virtual HRESULT STDMETHODCALLTYPE get_DownloadOperation(ICoreWebView2DownloadOperation** downloadOperation) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR* resultFilePath) = 0;
};
MIRAVELL_COM_INTERFACE(ICoreWebView2NavigationCompletedEventArgs, IUnknown, "30d68b7d-20d9-4752-a9ca-ec8448fbb5c1",
                       0x30d68b7d, 0x20d9, 0x4752, 0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1) {
  virtual HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* isSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* webErrorStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* navigationId) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2NavigationCompletedEventArgs2, ICoreWebView2NavigationCompletedEventArgs,
                       "fdf8b738-ee1e-4db2-a329-8d7d7b74d792", 0xfdf8b738, 0xee1e, 0x4db2, 0xa3, 0x29, 0x8d, 0x7d,
                       0x7b, 0x74, 0xd7, 0x92) {
  virtual HRESULT STDMETHODCALLTYPE get_HttpStatusCode(int* httpStatusCode) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2ProcessFailedEventArgs, IUnknown, "8155a9a4-1474-4a86-8cae-151b0fa6b8ca",
                       0x8155a9a4, 0x1474, 0x4a86, 0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca) {
  virtual HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* processFailedKind) = 0;
};

MIRAVELL_COM_INTERFACE(ICoreWebView2ProcessFailedEventArgs2, ICoreWebView2ProcessFailedEventArgs,
                       "4dab9422-46fa-4c3e-a5d2-41d2071d3680", 0x4dab9422, 0x46fa, 0x4c3e, 0xa5, 0xd2, 0x41, 0xd2,
                       0x07, 0x1d, 0x36, 0x80) {
  virtual HRESULT STDMETHODCALLTYPE get_Reason(COREWEBVIEW2_PROCESS_FAILED_REASON* reason) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExitCode(int* exitCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProcessDescription(LPWSTR* processDescription) = 0;
};
// clang-format on
