// quorvex-access's permissions, read where it hands them to Windows: wine keeps of a file's
// access list only the Unix mode (the owner's and everyone's bits), so the protection from
// inheritance and the entries for Users would not survive the way to the disk and back.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Each path's access lists in the order given: "made" (created with it) or "set", then the
// list in SDDL, "D:P" only when both the descriptor and the call protect it.
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
  std::wstring& entry = Given()[path];
  entry += (entry.empty() ? L"" : L" ") + std::wstring(how) + L" " + list;
}

BOOL WINAPI RecordedSetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION info,
                                            PSECURITY_DESCRIPTOR descriptor) {
  wchar_t path[MAX_PATH] = L"";
  GetFinalPathNameByHandleW(object, path, MAX_PATH, 0);
  if ((info & DACL_SECURITY_INFORMATION) != 0) {
    Record(path, L"set", descriptor, (info & PROTECTED_DACL_SECURITY_INFORMATION) != 0);
  }
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
  arguments.insert(arguments.begin(), L"quorvex-access");
  std::vector<wchar_t*> argv;
  for (std::wstring& argument : arguments) argv.push_back(argument.data());
  return QuorvexAccessMain(static_cast<int>(argv.size()), argv.data());
}

std::wstring Temporary(const std::wstring& name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return folder + name + std::to_wstring(GetTickCount64());
}

// A kept program folder with its settings file and a file two levels down, and a state folder
// made new, for NETWORK SERVICE (NS): who gets what, and where nothing is inherited.
TEST(InstallerAccessTest, ProtectedListsForWhomTheyAreMeant) {
  const std::wstring program = Temporary(L"access-program-");
  const std::wstring state = Temporary(L"access-state-");
  ASSERT_TRUE(CreateDirectoryW(program.c_str(), nullptr));
  CreateDirectoryW((program + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((program + L"\\sub\\deeper").c_str(), nullptr);
  for (const wchar_t* file : {L"\\sub\\deeper\\planted.cmd", L"\\QuorvexServer.ini"}) {
    CloseHandle(
        CreateFileW((program + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  }
  Given().clear();
  ASSERT_EQ(RunAccess({L"NETWORK SERVICE", L"program", program, L"settings",
                       program + L"\\QuorvexServer.ini", L"state", state}),
            0);
  const std::map<std::wstring, std::wstring> expected = {
      {program,
       L"set D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;NS)"
       L"(A;OICI;0x1200a9;;;BU)"},
      {program + L"\\sub\\deeper\\planted.cmd",
       L"set D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;NS)(A;ID;0x1200a9;;;BU)"},
      {program + L"\\QuorvexServer.ini", L"set D:PAI(A;;FR;;;SY)(A;;FA;;;BA)(A;;FR;;;NS)"},
      {state, L"made D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;NS)"},
  };
  for (const auto& [path, lists] : expected) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Given()[path], lists);
  }
}

// Each row: the folder above the program folder, whether Everyone may change it, the exit.
TEST(InstallerAccessTest, ProgramFolderOnlyBelowParentsOthersCannotChange) {
  wchar_t program_files[MAX_PATH];
  GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  const struct {
    std::wstring parent;
    bool open;
    int exit;
  } rows[] = {{program_files, false, 0}, {Temporary(L"access-open-"), true, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.parent);
    CreateDirectoryW(row.parent.c_str(), nullptr);
    if (row.open) {
      PSECURITY_DESCRIPTOR everyone = nullptr;
      ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                           &everyone, nullptr);
      SetFileSecurityW(row.parent.c_str(), DACL_SECURITY_INFORMATION, everyone);
      LocalFree(everyone);
    }
    const std::wstring program = row.parent + L"\\QuorvexAccessTest";
    EXPECT_EQ(RunAccess({L"SYSTEM", L"program", program}), row.exit);
    EXPECT_EQ(RemoveDirectoryW(program.c_str()), row.exit == 0);
  }
}

}  // namespace
