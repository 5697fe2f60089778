// quorvex-access's lists, read where it hands them to Windows: wine keeps of a file's list only
// the Unix mode (the owner's and everyone's bits), losing on the way to the disk and back the
// protection from inheritance and the entries for Users.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Each path's lists in the order given, "made" (created with it) or "set", in SDDL: "D:P" only
// when both the descriptor and the call protect it.
std::map<std::wstring, std::wstring>& Given() {
  static std::map<std::wstring, std::wstring> given;
  return given;
}

void Record(std::wstring path, const wchar_t* how, PSECURITY_DESCRIPTOR descriptor, bool protect) {
  wchar_t* text = nullptr;
  std::wstring list = L"none";
  if (descriptor != nullptr &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    list = text;
    LocalFree(text);
  }
  if (!protect && list.rfind(L"D:P", 0) == 0) list.erase(2, 1);
  if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
  Given()[path] += std::wstring(how) + L" " + list + L";";
}

BOOL WINAPI RecordedSetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION info,
                                            PSECURITY_DESCRIPTOR descriptor) {
  wchar_t path[MAX_PATH] = L"";
  GetFinalPathNameByHandleW(object, path, MAX_PATH, 0);
  const bool protect = (info & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
  if ((info & DACL_SECURITY_INFORMATION) != 0) Record(path, L"set", descriptor, protect);
  return SetKernelObjectSecurity(object, info, descriptor);
}

BOOL WINAPI RecordedCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
  const BOOL made = CreateDirectoryW(path, attributes);
  if (made) Record(path, L"made", attributes ? attributes->lpSecurityDescriptor : nullptr, true);
  return made;
}

}  // namespace

#define SetKernelObjectSecurity RecordedSetKernelObjectSecurity
#define CreateDirectoryW RecordedCreateDirectoryW
#define wmain QuorvexAccessMain
#include "installer_access.cc"
#undef wmain
#undef CreateDirectoryW
#undef SetKernelObjectSecurity

namespace {

int RunAccess(std::vector<std::wstring> arguments) {
  std::vector<wchar_t*> argv = {nullptr};
  for (std::wstring& argument : arguments) argv.push_back(argument.data());
  return QuorvexAccessMain(static_cast<int>(argv.size()), argv.data());
}

// A kept program folder with its settings file and a file two levels down, and a state folder
// made new, for NETWORK SERVICE (NS): who gets what, and where nothing is inherited. Below
// %ProgramFiles% a program folder is accepted.
TEST(InstallerAccessTest, ProtectedListsForWhomTheyAreMeant) {
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring program = temporary + std::to_wstring(GetTickCount64());
  const std::wstring state = program + L"-state";
  for (const wchar_t* folder : {L"", L"\\sub", L"\\sub\\deeper"})
    ASSERT_TRUE(CreateDirectoryW((program + folder).c_str(), nullptr));
  for (const wchar_t* file : {L"\\sub\\deeper\\planted.cmd", L"\\QuorvexServer.ini"})
    CloseHandle(
        CreateFileW((program + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_EQ(RunAccess({L"NETWORK SERVICE", L"program", program, L"settings",
                       program + L"\\QuorvexServer.ini", L"state", state}),
            0);
  const std::map<std::wstring, std::wstring> expected = {
      {program,
       L"set D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;NS)"
       L"(A;OICI;0x1200a9;;;BU);"},
      {program + L"\\sub\\deeper\\planted.cmd",
       L"set D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;NS)(A;ID;0x1200a9;;;BU);"},
      {program + L"\\QuorvexServer.ini", L"set D:PAI(A;;FR;;;SY)(A;;FA;;;BA)(A;;FR;;;NS);"},
      {state, L"made D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;NS);"},
  };
  for (const auto& [path, lists] : expected) EXPECT_EQ(Given()[path], lists) << path;

  wchar_t program_files[MAX_PATH];
  GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  const std::wstring below = std::wstring(program_files) + L"\\QuorvexAccessTest";
  EXPECT_EQ(RunAccess({L"SYSTEM", L"program", below}), 0);
  RemoveDirectoryW(below.c_str());
}

}  // namespace
