// The schedule on Windows: the task "Quorvex Server" of Task Scheduler,
// read through its COM interface. Only looked at: whether it exists and is
// enabled.
#include <windows.h>
// After windows.h, which they need.
#include <oleauto.h>
#include <taskschd.h>

#include <string>

#include "configuration_check.h"

namespace quorvex {
namespace {

constexpr wchar_t kTaskName[] = L"Quorvex Server";

// One COM interface pointer, released when it goes.
template <typename Interface>
class Held {
 public:
  Held() = default;
  ~Held() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface** Out() { return &pointer_; }
  void** OutVoid() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

// A BSTR for the calls that want one.
class Text {
 public:
  explicit Text(const wchar_t* text) : bstr_(SysAllocString(text)) {}
  ~Text() { SysFreeString(bstr_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return bstr_; }

 private:
  BSTR bstr_;
};

class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

std::string HresultText(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

}  // namespace

void ConfigurationCheck::CheckSchedule() {
  const std::string fix =
      "Install again with the setup program, or make the task with schtasks /Create /TN "
      "\"Quorvex Server\" /XML QuorvexServer.task.xml in the program folder.";
  const ComApartment apartment;
  Held<ITaskService> service;
  Held<ITaskFolder> root;
  Held<IRegisteredTask> task;
  VARIANT none;
  VariantInit(&none);
  HRESULT result = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskService, service.OutVoid());
  if (SUCCEEDED(result)) result = service->Connect(none, none, none, none);
  if (SUCCEEDED(result)) result = service->GetFolder(Text(L"\\"), root.Out());
  if (FAILED(result)) {
    findings_.Warn("schedule", "Task Scheduler cannot be asked (error " + HresultText(result) + ")",
                   "Check that the Task Scheduler service runs.");
    return;
  }
  result = root->GetTask(Text(kTaskName), task.Out());
  if (FAILED(result)) {
    findings_.Warn("schedule",
                   "the task \"Quorvex Server\" does not exist, so no run starts on its own", fix);
    return;
  }
  VARIANT_BOOL enabled = VARIANT_TRUE;
  if (SUCCEEDED(task->get_Enabled(&enabled)) && enabled == VARIANT_FALSE) {
    findings_.Warn("schedule", "the task \"Quorvex Server\" exists but is disabled",
                   "Enable it: schtasks /Change /TN \"Quorvex Server\" /ENABLE.");
    return;
  }
  findings_.Ok("schedule", "the task \"Quorvex Server\" exists and is enabled");
}

}  // namespace quorvex
